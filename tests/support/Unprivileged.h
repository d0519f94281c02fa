#pragma once

#include <QString>
#include <QtTest>

#include <unistd.h>

namespace vellorin::test {

// Root reads and writes whatever the permission bits say, so a case about permissions
// proves nothing as root. Runs one test function of this executable again as "nobody" and
// returns its exit status (0 when it passed).
int rerunAsNobody(const char* testFunction);

} // namespace vellorin::test

// At the top of a test function whose case needs an unprivileged user: as root, the rest
// of the function runs in a child process as "nobody", and its result is this test's.
#define VELLORIN_RUN_UNPRIVILEGED()                                                                          \
    do {                                                                                                     \
        if (::geteuid() == 0) {                                                                              \
            QCOMPARE(vellorin::test::rerunAsNobody(QTest::currentTestFunction()), 0);                        \
            return;                                                                                          \
        }                                                                                                    \
    } while (0)
