// The benches' child processes: a monotonic clock and a program started in a folder.
#pragma once

#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

inline double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Starts a program in folder dir with stdout to outPath and stderr to /dev/null.
inline pid_t spawn(const std::vector<std::string> &args, const std::string &dir, const std::string &outPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_WRONLY);
        dup2(out, 1);
        dup2(null, 2);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}
