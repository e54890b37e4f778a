#include "time_out.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

void time_out() {
    time_t now = time(nullptr);
    struct tm* local = localtime(&now);
    char buffer[65535];
    strftime(buffer, sizeof(buffer), "[%c]", local);
    std::cout << buffer;
}

void progress(const char* title) {
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
        fwrite(small, 1, static_cast<size_t>(length), stdout);
    } else {
        std::string large(static_cast<size_t>(length) + 1, '\0');
        vsnprintf(&large[0], large.size(), format, copy);
        fwrite(large.data(), 1, static_cast<size_t>(length), stdout);
    }
    va_end(copy);
    fflush(stdout);
}
