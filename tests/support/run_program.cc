#include "tests/support/run_program.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

} // namespace

run_result run_program(const std::vector<std::string> &argv, const std::string &input,
                       int timeout_seconds) {
    run_result r;
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
        return r;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    set_nonblocking(in[1]);
    std::size_t written = 0;
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    int open_outputs = 2;
    while (open_outputs > 0) {
        pollfd fds[3];
        int n = 0;
        if (out[0] >= 0)
            fds[n++] = {out[0], POLLIN, 0};
        if (err[0] >= 0)
            fds[n++] = {err[0], POLLIN, 0};
        if (in[1] >= 0)
            fds[n++] = {in[1], POLLOUT, 0};
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0) {
            kill(pid, SIGKILL);
            r.timed_out = true;
            break;
        }
        if (poll(fds, n, left) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents)
                continue;
            if (fds[i].fd == in[1]) {
                ssize_t k = write(in[1], input.data() + written, input.size() - written);
                if (k > 0)
                    written += static_cast<std::size_t>(k);
                if (k < 0 || written == input.size()) {
                    close(in[1]);
                    in[1] = -1;
                }
                continue;
            }
            char buf[65536];
            ssize_t k = read(fds[i].fd, buf, sizeof buf);
            std::string &dst = fds[i].fd == out[0] ? r.out : r.err;
            if (k > 0) {
                dst.append(buf, static_cast<std::size_t>(k));
            } else if (k == 0 || (errno != EAGAIN && errno != EINTR)) {
                if (fds[i].fd == out[0])
                    out[0] = (close(out[0]), -1);
                else
                    err[0] = (close(err[0]), -1);
                --open_outputs;
            }
        }
    }
    for (int fd : {in[1], out[0], err[0]})
        if (fd >= 0)
            close(fd);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        r.signal = WTERMSIG(wstatus);
    return r;
}
