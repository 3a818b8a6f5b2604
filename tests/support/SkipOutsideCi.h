#pragma once

#include <QtGlobal>
#include <gtest/gtest.h>

// A test that needs something this machine lacks (a package, a mount, a file flag) is skipped;
// under CI (CI=true) the machine is set up for every test, so there the lack is a failure.
#define SKIP_OUTSIDE_CI(reason)                                                                    \
    do {                                                                                           \
        if (qgetenv("CI") == "true")                                                               \
            GTEST_FAIL() << reason << " (CI sets this up)";                                        \
        else                                                                                       \
            GTEST_SKIP() << reason;                                                                \
    } while (false)
