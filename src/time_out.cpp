#include "time_out.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

namespace {

Message_sink message_sink = nullptr;
thread_local std::string* captured = nullptr;  // the calling thread's Message_capture, if any

void emit(const char* text, size_t length) {
    if (captured != nullptr) {
        captured->append(text, length);
        return;
    }
    if (message_sink != nullptr) {
        message_sink(text, length);
        return;
    }
    fwrite(text, 1, length, stdout);
    fflush(stdout);
}

}  // namespace

void set_message_sink(Message_sink sink) { message_sink = sink; }

Message_capture::Message_capture() : outer_(captured) { captured = &text_; }

Message_capture::~Message_capture() { captured = outer_; }

void time_out() {
    time_t now = time(nullptr);
    struct tm* local = localtime(&now);
    char buffer[65535];
    strftime(buffer, sizeof(buffer), "[%c]", local);
    std::cout << buffer;
}

void progress(const char* title) {
    if (message_sink != nullptr) return;
    time_out();
    puts(title);
}

void message(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(small, sizeof(small), format, args);
    va_end(args);
    if (length < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<size_t>(length) < sizeof(small)) {
        emit(small, static_cast<size_t>(length));
    } else {
        std::string large(static_cast<size_t>(length) + 1, '\0');
        vsnprintf(&large[0], large.size(), format, copy);
        emit(large.data(), static_cast<size_t>(length));
    }
    va_end(copy);
}
