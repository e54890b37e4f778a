// Run control conventions shared by every stage: the time stamp that opens a
// progress line, the progress line itself, whole-line messages that worker
// threads may print concurrently, and the fan-out of a stage over n workers.
#ifndef CIMBREL_TIME_OUT_H
#define CIMBREL_TIME_OUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <boost/thread.hpp>

// Writes "[%c]" of the local time (C locale form) to standard output, no line end.
void time_out();

// Progress line: the stamp directly followed by the title (which carries its
// own leading blanks) and a line end. Main thread only.
void progress(const char* title);

// printf-style message written to standard output with a single call, so
// lines from different workers never interleave; flushed.
void message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where a program other than cimbrel sends the stages' messages instead:
// each whole message (one or more lines, each ended by a line end) goes to
// the sink, possibly from several workers at once, and progress lines are
// not written. Null (the default) restores standard output.
using Message_sink = void (*)(const char* text, size_t length);
void set_message_sink(Message_sink sink);

// While it lives, the messages of the thread that made it are kept in text()
// instead of being written: a stage that runs beside another on a thread of
// its own keeps its messages, and they are printed later where the run's
// order puts them. Captures on one thread nest.
class Message_capture {
public:
    Message_capture();
    ~Message_capture();
    Message_capture(const Message_capture&) = delete;
    Message_capture& operator=(const Message_capture&) = delete;
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::string* outer_;
};

// Runs worker(t, n) on n threads, t = 0 … n-1, and returns when all have
// finished. Worker t takes the items t, t+n, t+2n, … of its stage.
template <class Worker>
void fan_out(uint32_t n, Worker worker) {
    boost::thread_group group;
    for (uint32_t t = 0; t < n; ++t) group.add_thread(new boost::thread(worker, t, n));
    group.join_all();
}

#endif
