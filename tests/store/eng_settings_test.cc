#include "engine/tirvo_eng_settings.h"
#include "tests/store/loader_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The calls a registered debug switch received, in order: 'x' for
// tirvo_eng_exec, 's' for tirvo_eng_exec_special, with the on flag.
std::vector<std::pair<char, int>> switch_calls;

int exec_switch(int on) {
    switch_calls.emplace_back('x', on);
    return 0;
}

int special_switch(int on) {
    switch_calls.emplace_back('s', on);
    return 0;
}

int failing_switch(int) {
    return -1;
}

uint32_t port_of(void *arg) {
    return *static_cast<uint32_t *>(arg);
}

using eng_settings_test = loader_fixture;

// Runs first in its own process state: every value as it starts.
TEST_F(eng_settings_test, InitialValues) {
    EXPECT_EQ(tirvo_eng_major(), 0u);
    EXPECT_EQ(tirvo_eng_minor(), 0u);
    EXPECT_EQ(tirvo_eng_patch(), 0u);
    EXPECT_EQ(tirvo_eng_build(), 0u);
    EXPECT_EQ(tirvo_eng_fpver(), 1u);
    EXPECT_EQ(tirvo_eng_debug_enabled(), 0);
    void *arg = &arg;
    EXPECT_EQ(tirvo_eng_dport_provider(&arg), nullptr);
    EXPECT_EQ(arg, nullptr);
    // No provider: $dport reads as 0 instead of calling through null.
    EXPECT_EQ(tirvo_eng_dport(), 0u);
}

TEST_F(eng_settings_test, EnvironmentValuesAndPortProvider) {
    tirvo_eng_set_major(3);
    tirvo_eng_set_minor(14);
    tirvo_eng_set_patch(15);
    tirvo_eng_set_build(0xFFFFFFFFu);
    tirvo_eng_set_fpver(2);
    EXPECT_EQ(tirvo_eng_major(), 3u);
    EXPECT_EQ(tirvo_eng_minor(), 14u);
    EXPECT_EQ(tirvo_eng_patch(), 15u);
    EXPECT_EQ(tirvo_eng_build(), 0xFFFFFFFFu);
    EXPECT_EQ(tirvo_eng_fpver(), 2u);
    EXPECT_EQ(tirvo_eng_settings.major, 3u);

    uint32_t port = 443;
    tirvo_eng_set_dport_provider(port_of, &port);
    EXPECT_EQ(tirvo_eng_dport(), 443u);
    port = 8080;
    EXPECT_EQ(tirvo_eng_dport(), 8080u);
    void *arg = nullptr;
    EXPECT_EQ(tirvo_eng_dport_provider(&arg), port_of);
    EXPECT_EQ(arg, &port);

    tirvo_eng_set_dport_provider(nullptr, nullptr);
    tirvo_eng_set_major(0);
    tirvo_eng_set_minor(0);
    tirvo_eng_set_patch(0);
    tirvo_eng_set_build(0);
    tirvo_eng_set_fpver(1);
}

TEST_F(eng_settings_test, StreamsAreTheOnesSet) {
    EXPECT_EQ(tirvo_eng_error_stream(), err);
    EXPECT_EQ(tirvo_eng_warning_stream(), err);
    EXPECT_EQ(tirvo_eng_debug_stream(), dbg);
}

TEST_F(eng_settings_test, DebugOnAndOffPrintTheirLinesAndSwitchBothEntries) {
    switch_calls.clear();
    tirvo_eng_set_debug_switches(exec_switch, special_switch);
    tirvo_eng_debug_on(1);
    EXPECT_EQ(tirvo_eng_debug_enabled(), 1);
    EXPECT_EQ(tirvo_eng_print_addresses(), 1);
    tirvo_eng_debug_off();
    EXPECT_EQ(tirvo_eng_debug_enabled(), 0);
    EXPECT_EQ(tirvo_eng_print_addresses(), 1);
    tirvo_eng_debug_on(0);
    EXPECT_EQ(tirvo_eng_print_addresses(), 0);
    tirvo_eng_debug_off();
    tirvo_eng_set_debug_switches(nullptr, nullptr);

    EXPECT_EQ(debug_output(), "tirvo: enabling tirvo_eng_exec() debug\n"
                              "tirvo: enabling tirvo_eng_exec_special() debug\n"
                              "tirvo: disabling tirvo_eng_exec() debug\n"
                              "tirvo: disabling tirvo_eng_exec_special() debug\n"
                              "tirvo: enabling tirvo_eng_exec() debug\n"
                              "tirvo: enabling tirvo_eng_exec_special() debug\n"
                              "tirvo: disabling tirvo_eng_exec() debug\n"
                              "tirvo: disabling tirvo_eng_exec_special() debug\n");
    const std::vector<std::pair<char, int>> expect = {{'x', 1}, {'s', 1}, {'x', 0}, {'s', 0},
                                                      {'x', 1}, {'s', 1}, {'x', 0}, {'s', 0}};
    EXPECT_EQ(switch_calls, expect);
}

TEST_F(eng_settings_test, DebugWithoutAStreamPrintsNothingAndKeepsGoing) {
    tirvo_eng_set_debug_stream(nullptr);
    tirvo_eng_debug_on(0);
    EXPECT_EQ(tirvo_eng_debug_enabled(), 1);
    tirvo_eng_debug_off();
    EXPECT_EQ(debug_output(), "");
}

TEST(eng_settings_death_test, ASwitchThatFailsAbortsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            tirvo_eng_set_debug_switches(failing_switch, nullptr);
            tirvo_eng_debug_on(0);
        },
        "tirvo_eng_settings: assertion failed: debug switch of the interpreter did not "
        "complete");
}

} // namespace
