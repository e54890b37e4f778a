// Removal of a run's temporary files and of the folders it created when
// SIGINT, SIGTERM or SIGHUP stops it: the handler, installed with the first
// registration, removes every path still registered (newest first, so files
// go before the folders that hold them), using only async-signal-safe
// calls, and then lets the signal end the program as it would have.
//
// Entries are never freed: a handler running in another thread may be
// walking them at any moment. A run registers a few per output file, so
// the cost is a few bytes per file.
#ifndef CIMBREL_PLUMBING_CLEANUP_H
#define CIMBREL_PLUMBING_CLEANUP_H

#include <csignal>
#include <string>

struct Cleanup_entry;

// Registers a path to remove (a folder, removed only when empty, when
// folder) should a signal stop the run.
Cleanup_entry* remove_on_signal(const std::string& path, bool folder = false);
// The path is no longer the run's to remove (it was committed or removed).
void keep_on_signal(Cleanup_entry* entry);

// Holds SIGINT, SIGTERM and SIGHUP back in the calling thread while it
// lives, so that a step that must not stop halfway (putting a set of files
// in place) finishes first; a signal that came meanwhile is then delivered.
class Signals_held {
public:
    Signals_held();
    ~Signals_held();
    Signals_held(const Signals_held&) = delete;
    Signals_held& operator=(const Signals_held&) = delete;

private:
    sigset_t previous_;
};

#endif
