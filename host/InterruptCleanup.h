#pragma once
// Keeps a temporary file from outliving an interrupted program.
//
// Once Install has run, an interrupt (SIGINT, SIGTERM or SIGHUP; on Windows
// Ctrl-C, Ctrl-Break or closing the console) removes the one file being watched,
// writes one line to standard error and ends the process with 128 plus the
// signal number: 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP; on Windows
// Ctrl-C gives 130, Ctrl-Break 149 and a closing console 129. An interrupt that
// the process was started ignoring stays ignored. Without Install, watching
// costs nothing and interrupts keep their usual effect. Only a kill that cannot
// be caught leaves the file behind.

#include <memory>
#include <string>

class TInterruptCleanup {
public:
    // Once per process, before the first file is watched.
    static void Install(const std::string& programName);

    // While alive, an interrupt waits: a file is created or removed and its
    // watch changed as one step. Not to be nested.
    class THold {
    public:
        THold();
        ~THold();
        THold(const THold&) = delete;
        THold& operator=(const THold&) = delete;

    private:
        struct TState;
        std::unique_ptr<TState> state_;
    };

    // Under a THold: the file an interrupt removes (a native path), or none.
    static void Watch(const std::string& path);
    static void Unwatch();
    // Under a THold: removes the watched file now, as an interrupt would (a
    // session that ends), and watches none.
    static void RemoveWatched();
};
