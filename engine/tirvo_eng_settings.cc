#include "engine/tirvo_eng_settings.h"

#include "lib/common/tirvo_assert.h"

#include <cstdio>

tirvo_eng_settings_record tirvo_eng_settings = {
    nullptr, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 1, nullptr, nullptr, nullptr, nullptr,
};

namespace {

void set_stream(FILE **slot, FILE *stream) {
    *slot = stream;
    if (stream)
        std::setvbuf(stream, nullptr, _IONBF, 0);
}

// Switches one interpreter entry and prints its line. A registered switch
// that fails leaves the handlers in an unknown state, so the process stops.
void switch_entry(tirvo_eng_debug_switch_fn fn, int on, const char *entry) {
    if (fn) {
        const int result = fn(on);
        TIRVO_ASSERT_TEXT(result == 0, "debug switch of the interpreter did not complete");
    }
    if (FILE *f = tirvo_eng_settings.debug_stream)
        std::fprintf(f, "tirvo: %s %s() debug\n", on ? "enabling" : "disabling", entry);
}

} // namespace

extern "C" {

void tirvo_eng_set_error_stream(FILE *stream) {
    set_stream(&tirvo_eng_settings.error_stream, stream);
}

void tirvo_eng_set_warning_stream(FILE *stream) {
    set_stream(&tirvo_eng_settings.warning_stream, stream);
}

void tirvo_eng_set_debug_stream(FILE *stream) {
    set_stream(&tirvo_eng_settings.debug_stream, stream);
}

FILE *tirvo_eng_error_stream(void) {
    return tirvo_eng_settings.error_stream;
}

FILE *tirvo_eng_warning_stream(void) {
    return tirvo_eng_settings.warning_stream;
}

FILE *tirvo_eng_debug_stream(void) {
    return tirvo_eng_settings.debug_stream;
}

void tirvo_eng_debug_on(int print_addresses) {
    tirvo_eng_settings.debug = 1;
    tirvo_eng_settings.print_addresses = print_addresses != 0;
    switch_entry(tirvo_eng_settings.exec_switch, 1, "tirvo_eng_exec");
    switch_entry(tirvo_eng_settings.special_switch, 1, "tirvo_eng_exec_special");
}

void tirvo_eng_debug_off(void) {
    tirvo_eng_settings.debug = 0;
    switch_entry(tirvo_eng_settings.exec_switch, 0, "tirvo_eng_exec");
    switch_entry(tirvo_eng_settings.special_switch, 0, "tirvo_eng_exec_special");
}

int tirvo_eng_debug_enabled(void) {
    return tirvo_eng_settings.debug;
}

int tirvo_eng_print_addresses(void) {
    return tirvo_eng_settings.print_addresses;
}

void tirvo_eng_set_major(uint32_t value) {
    tirvo_eng_settings.major = value;
}

void tirvo_eng_set_minor(uint32_t value) {
    tirvo_eng_settings.minor = value;
}

void tirvo_eng_set_patch(uint32_t value) {
    tirvo_eng_settings.patch = value;
}

void tirvo_eng_set_build(uint32_t value) {
    tirvo_eng_settings.build = value;
}

void tirvo_eng_set_fpver(uint32_t value) {
    tirvo_eng_settings.fpver = value;
}

uint32_t tirvo_eng_major(void) {
    return tirvo_eng_settings.major;
}

uint32_t tirvo_eng_minor(void) {
    return tirvo_eng_settings.minor;
}

uint32_t tirvo_eng_patch(void) {
    return tirvo_eng_settings.patch;
}

uint32_t tirvo_eng_build(void) {
    return tirvo_eng_settings.build;
}

uint32_t tirvo_eng_fpver(void) {
    return tirvo_eng_settings.fpver;
}

void tirvo_eng_set_dport_provider(tirvo_eng_dport_fn fn, void *arg) {
    tirvo_eng_settings.dport_fn = fn;
    tirvo_eng_settings.dport_arg = arg;
}

tirvo_eng_dport_fn tirvo_eng_dport_provider(void **arg) {
    if (arg)
        *arg = tirvo_eng_settings.dport_arg;
    return tirvo_eng_settings.dport_fn;
}

uint32_t tirvo_eng_dport(void) {
    return tirvo_eng_settings.dport_fn ? tirvo_eng_settings.dport_fn(tirvo_eng_settings.dport_arg)
                                       : 0;
}

void tirvo_eng_set_debug_switches(tirvo_eng_debug_switch_fn exec,
                                  tirvo_eng_debug_switch_fn exec_special) {
    tirvo_eng_settings.exec_switch = exec;
    tirvo_eng_settings.special_switch = exec_special;
}

} // extern "C"
