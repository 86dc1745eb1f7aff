// Benchmark of the superstate construction.
//
// Compiles fingerprints that stress the construction (wide state sets, many
// counters, long bounded repetitions, many branches, realistic protocol
// fingerprints) up to their superstates, each in a child process of its own
// so that the peak memory of one case does not hide in another's, and
// prints per case the superstates made, the wall time of the superstate
// stage (and of the whole compile), the child's processor time, superstates
// per second of the stage and the child's peak resident memory (both from
// wait4). The processor time is the steadier figure on a busy machine.
//
// Usage: superstate_bench [-r repeats] [name-substring...]
// With names, only the cases whose name contains one of them run. Each case
// runs `repeats` times (default 3) and the fastest run is printed.
#include "automata/tirvo_charset.h"
#include "automata/tirvo_nfa_to_dfa.h"
#include "automata/tirvo_regex_to_nfa.h"
#include "compiler/tirvo_compile_ctx.h"
#include "lang/tirvo_parse.h"
#include "lang/tirvo_parse_tree.h"
#include "lang/tirvo_scanner.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct bench_case {
    std::string name;
    std::string fingerprint;
    void (*setup)(tirvo_compile_ctx *);
};

// What a child reports through its pipe.
struct bench_result {
    int status;      // the compile's error code
    uint64_t states; // superstates of all entries
    double dfa_ms;   // wall time of the superstate stage
    double total_ms; // wall time of parse, NFA and superstates
};

// One branch ".*word(?I{n})" per word: an unanchored search for many
// literals, each reporting its own situation.
std::string literal_branches(int n) {
    std::string fp;
    uint32_t x = 12345;
    for (int i = 0; i < n; ++i) {
        if (i)
            fp += "|";
        fp += ".*(?I{" + std::to_string(i + 1) + "})";
        const int len = 6 + static_cast<int>(x % 7);
        for (int k = 0; k < len; ++k) {
            x = x * 1103515245u + 12345u;
            fp += static_cast<char>('a' + (x >> 16) % 26);
        }
    }
    return fp;
}

std::vector<bench_case> cases() {
    return {
        {"dot-a-dot12", ".*a.{12}(?[v=1])", nullptr},
        {"dot-a-dot16", ".*a.{16}(?[v=1])", nullptr},
        {"dot-a-dot16-expanded", ".*a.{16}(?[v=1])", tirvo_compile_set_no_count_extension},
        {"x100000", "x{100000}(?[x=1])", nullptr},
        {"x100000-no-count-superstates", "x{100000}(?[x=1])",
         tirvo_compile_set_no_count_superstates},
        {"dot-x2000-counters", ".*x{2000}(?[v=1])", nullptr},
        {"literals-1000", literal_branches(1000), nullptr},
        {"literals-3000", literal_branches(3000), nullptr},
        {"nested-bounded-classes",
         ".*(a[bc]{2,5}d){1,3}[^x]{3,8}[0-9]{2,4}(?[v=1])|.*q[a-f]{1,6}z{2,3}(?[w=1])", nullptr},
        {"tls-client-hello",
         "\\x16\\x03[\\x00-\\x03].{2}\\x01.{3}\\x03[\\x00-\\x03].{32}(?[hello=1])"
         "(.{0,200}\\x00\\x00.{2}.{2}\\x00.{2}(?[sni=1])[a-z0-9.\\-]{1,64})?",
         nullptr},
        {"http-request",
         "(?i)(GET|POST|HEAD|PUT) /[^ \\r\\n]{0,400} HTTP/1\\.[01]\\r\\n(?[req=1])"
         "([^\\r\\n]{0,200}\\r\\n){0,30}"
         "(Host: [^\\r\\n]{1,100}\\r\\n(?[host=1])|User-Agent: [^\\r\\n]{0,300}\\r\\n(?[ua=1]))",
         nullptr},
        {"dns-query",
         ".{2}[\\x00\\x01][\\x00-\\x20]\\x00\\x01\\x00\\x00.{4}"
         "([\\x01-\\x3f][a-z]{1,63}){1,8}\\x00\\x00[\\x01\\x0f\\x10\\x1c](?[dns=1])",
         nullptr},
        {"sql-keywords",
         "(?i).*(union[ \\t]+(all[ \\t]+)?select|select[^;]*from|insert[ \\t]+into|"
         "drop[ \\t]+table|or[ \\t]+1=1|;[ \\t]*shutdown)(?[sqli=1])",
         nullptr},
        // Counters started at every position of an unanchored search: the
        // automaton explodes and the construction stops at its limit.
        {"explosion-guard", ".*select[^;]{1,80}from(?[sqli=1])", nullptr},
    };
}

double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Runs one case in this process.
bench_result run_case(const bench_case &c) {
    bench_result r{};
    tirvo_charset_init_predefined();
    tirvo_compile_ctx ctx;
    tirvo_compile_ctx_init(&ctx);
    FILE *f = std::tmpfile();
    if (!f || std::fwrite(c.fingerprint.data(), c.fingerprint.size(), 1, f) != 1) {
        r.status = -1;
        return r;
    }
    std::rewind(f);
    tirvo_compile_set_input(&ctx, f, "bench");
    tirvo_compile_set_quiet(&ctx);
    if (c.setup)
        c.setup(&ctx);
    const auto t0 = std::chrono::steady_clock::now();
    tirvo_pool_setup(&ctx.pool, std::malloc, std::free);
    if (tirvo_parse_setup(&ctx) == 0) {
        ctx.parse_flags |= TIRVO_PARSE_QUIET;
        if (tirvo_parse(&ctx) != 0 && !ctx.error)
            ctx.error = TIRVO_COMPILE_ERR_PARSE;
    }
    if (!ctx.error && tirvo_nfa_build(&ctx) == 0) {
        const auto t1 = std::chrono::steady_clock::now();
        tirvo_dfa_build(&ctx);
        r.dfa_ms = ms_since(t1);
    }
    r.total_ms = ms_since(t0);
    r.status = ctx.error;
    r.states = static_cast<uint64_t>(ctx.num_superstates);
    tirvo_compile_cleanup(&ctx);
    return r;
}

// Runs one case in a child; `peak_kb` gets the child's peak resident size,
// `cpu_ms` its user and system time.
bool run_child(const bench_case &c, bench_result *out, long *peak_kb, double *cpu_ms) {
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        close(fds[0]);
        // The table shows the error code; the compile's own messages would
        // only break its lines.
        if (!std::freopen("/dev/null", "w", stderr))
            _exit(1);
        const bench_result r = run_case(c);
        const ssize_t n = write(fds[1], &r, sizeof r);
        _exit(n == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(fds[1]);
    const ssize_t n = read(fds[0], out, sizeof *out);
    close(fds[0]);
    int wstatus = 0;
    struct rusage ru {};
    if (wait4(pid, &wstatus, 0, &ru) != pid)
        return false;
    *peak_kb = ru.ru_maxrss;
    *cpu_ms = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
              (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
    return n == static_cast<ssize_t>(sizeof *out) && WIFEXITED(wstatus) &&
           WEXITSTATUS(wstatus) == 0;
}

bool selected(const std::string &name, const std::vector<std::string> &filters) {
    if (filters.empty())
        return true;
    for (const std::string &f : filters)
        if (name.find(f) != std::string::npos)
            return true;
    return false;
}

} // namespace

int main(int argc, char **argv) {
    int repeats = 3;
    std::vector<std::string> filters;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-r") == 0 && i + 1 < argc)
            repeats = std::max(1, std::atoi(argv[++i]));
        else
            filters.push_back(argv[i]);
    }
    std::printf("%-30s %9s %9s %9s %9s %11s %8s\n", "case", "states", "dfa ms", "total ms",
                "cpu ms", "states/s", "peak MB");
    for (const bench_case &c : cases()) {
        if (!selected(c.name, filters))
            continue;
        bench_result best{};
        long peak = 0;
        double best_cpu = 0;
        bool ok = true;
        for (int k = 0; k < repeats && ok; ++k) {
            bench_result r{};
            long kb = 0;
            double cpu = 0;
            ok = run_child(c, &r, &kb, &cpu);
            if (ok && (k == 0 || r.dfa_ms < best.dfa_ms))
                best = r;
            if (ok && (k == 0 || cpu < best_cpu))
                best_cpu = cpu;
            peak = std::max(peak, kb);
        }
        if (!ok) {
            std::printf("%-30s failed to run\n", c.name.c_str());
            continue;
        }
        const double rate = best.dfa_ms > 0 ? best.states / (best.dfa_ms / 1000.0) : 0;
        std::printf("%-30s %9" PRIu64 " %9.1f %9.1f %9.1f %11.0f %8.1f", c.name.c_str(),
                    best.states, best.dfa_ms, best.total_ms, best_cpu, rate, peak / 1024.0);
        if (best.status != 0)
            std::printf("  (error %d)", best.status);
        std::printf("\n");
    }
    return 0;
}
