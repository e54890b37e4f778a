#include "cleanup.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

struct Cleanup_entry {
    char* path = nullptr;
    bool folder = false;
    std::atomic<bool> live{true};
    Cleanup_entry* next = nullptr;
};

namespace {

constexpr int stopping_signals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<Cleanup_entry*> newest{nullptr};
std::atomic<bool> installed{false};

void remove_registered(int signal_number) {
    const int saved = errno;
    for (Cleanup_entry* entry = newest.load(); entry != nullptr; entry = entry->next) {
        if (!entry->live.load()) continue;
        if (entry->folder) rmdir(entry->path);
        else unlink(entry->path);
    }
    errno = saved;
    // SA_RESETHAND restored the default action; the signal is blocked while
    // this handler runs and is delivered as soon as it returns.
    raise(signal_number);
}

void install_handler() {
    if (installed.exchange(true)) return;
    for (int signal_number : stopping_signals) {
        struct sigaction previous;
        if (sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_handler = remove_registered;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (int other : stopping_signals) sigaddset(&action.sa_mask, other);
        sigaction(signal_number, &action, nullptr);
    }
}

}  // namespace

Cleanup_entry* remove_on_signal(const std::string& path, bool folder) {
    install_handler();
    Cleanup_entry* entry = new Cleanup_entry;
    entry->path = new char[path.size() + 1];
    memcpy(entry->path, path.c_str(), path.size() + 1);
    entry->folder = folder;
    entry->next = newest.load();
    while (!newest.compare_exchange_weak(entry->next, entry)) {
    }
    return entry;
}

void keep_on_signal(Cleanup_entry* entry) {
    if (entry != nullptr) entry->live.store(false);
}

Signals_held::Signals_held() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : stopping_signals) sigaddset(&held, signal_number);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

Signals_held::~Signals_held() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
