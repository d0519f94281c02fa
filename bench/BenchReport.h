#pragma once

// What every benchmark prints, so that one runner can read them all:
//
//   figure <TAB> value <TAB> reference <TAB> ratio <TAB> goal <TAB> verdict
//
// one line per figure, the value and its reference measured in the same run, the goal as
// text ("ratio<=1.05", "excess_ms<=3", or "-" for a figure shown for information) and the
// verdict "ok", "MISSED" or "info". Every other line starts with "# " and is for people.
// The exit status is 0 when every goal was met, 1 when one was missed and 2 when the
// benchmark could not run at all.

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vellorin::bench {

enum ExitCode { kGoalsMet = 0, kGoalMissed = 1, kCannotRun = 2 };

inline double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// A positive whole number from the command line argument at index, else from the
// environment variable, else the default.
inline long sizeArgument(int argc, char** argv, int index, const char* variable, long fallback) {
    QByteArray text;
    if (argc > index)
        text = argv[index];
    else
        text = qgetenv(variable);
    if (text.isEmpty())
        return fallback;
    bool ok = false;
    const long value = text.toLong(&ok);
    if (!ok || value <= 0) {
        std::fprintf(stderr, "# not a positive whole number: %s\n", text.constData());
        std::exit(kCannotRun);
    }
    return value;
}

inline void note(const QString& text) {
    std::printf("# %s\n", qPrintable(text));
    std::fflush(stdout);
}

class Report {
  public:
    // A figure whose ratio to its reference must stay at or below maxRatio.
    void ratio(const char* figure, double value, double reference, double maxRatio) {
        const double r = reference > 0 ? value / reference : 0;
        const bool met = reference > 0 && r <= maxRatio;
        line(figure, value, reference, r, QStringLiteral("ratio<=%1").arg(maxRatio), met ? "ok" : "MISSED");
        missed_ = missed_ || !met;
    }
    // A figure that may exceed its reference by at most maxExcess (same unit).
    void excess(const char* figure, double value, double reference, double maxExcess) {
        const double r = reference > 0 ? value / reference : 0;
        const bool met = value - reference <= maxExcess;
        line(figure, value, reference, r, QStringLiteral("excess<=%1").arg(maxExcess), met ? "ok" : "MISSED");
        missed_ = missed_ || !met;
    }
    // A figure that must stay at or below a fixed bound, shown beside its reference.
    void atMost(const char* figure, double value, double reference, double bound) {
        const bool met = value <= bound;
        line(figure, value, reference, reference > 0 ? value / reference : 0,
             QStringLiteral("value<=%1").arg(bound), met ? "ok" : "MISSED");
        missed_ = missed_ || !met;
    }
    void info(const char* figure, double value, double reference) {
        line(figure, value, reference, reference > 0 ? value / reference : 0, QStringLiteral("-"), "info");
    }
    // A condition the figures depend on (both runs found the same files, ...).
    void require(bool met, const QString& what) {
        if (!met) {
            note(QStringLiteral("FAILED: ") + what);
            missed_ = true;
        }
    }
    int exitCode() const { return missed_ ? kGoalMissed : kGoalsMet; }

  private:
    static void line(const char* figure, double value, double reference, double ratio, const QString& goal,
                     const char* verdict) {
        std::printf("%s\t%.3f\t%.3f\t%.3f\t%s\t%s\n", figure, value, reference, ratio, qPrintable(goal),
                    verdict);
        std::fflush(stdout);
    }
    bool missed_ = false;
};

} // namespace vellorin::bench
