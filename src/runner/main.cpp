// kvarnixrun: watches one calculation of the monitor's from its start to its end. The monitor
// starts it instead of the calculation program, with the program and its arguments after "--".
#include "supervisor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sqlite3.h>
#include <string>

namespace {

constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "Användning: kvarnixrun --database DATABAS --run KÖRNING --output FIL\n"
    "                  [--time-limit MINUTER] [--report-fd FD] -- PROGRAM [ARGUMENT ...]\n"
    "\n"
    "Startar PROGRAM för körningen KÖRNING i monitordatabasen och stannar hos det till\n"
    "slutet: skriver dess utskrifter i FIL (den sista MiB sparas), håller körningens\n"
    "hjärtslag, stoppar det vid tidsgränsen eller när körningen avbryts, och skriver hur\n"
    "det slutade i körhistoriken. Startas av kvarnixmonitor och kvarnixmonitord.\n";

std::optional<long long> WholeNumber(const char* text, long long lowest) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || value < lowest)
        return std::nullopt;
    return value;
}

struct ParseResult {
    std::optional<CSupervisorOptions> options;
    std::string problem;
};

// The value of an option that takes one; false with the problem set when it is missing or
// malformed.
bool TakeValue(int argc, char** argv, int& index, std::string& value, std::string& problem) {
    if (index + 1 >= argc) {
        problem = std::string(argv[index]) + " kräver ett värde";
        return false;
    }
    value = argv[++index];
    return true;
}

bool TakeNumber(int argc, char** argv, int& index, long long lowest, long long& value,
                std::string& problem) {
    const std::string option = argv[index];
    std::string text;
    if (!TakeValue(argc, argv, index, text, problem))
        return false;
    const std::optional<long long> number = WholeNumber(text.c_str(), lowest);
    if (!number) {
        problem = option + " kräver ett heltal från " + std::to_string(lowest) + ", inte \"" +
                  text + "\"";
        return false;
    }
    value = *number;
    return true;
}

ParseResult Parse(int argc, char** argv) {
    CSupervisorOptions options;
    std::string problem;
    int index = 1;
    for (; index < argc && std::strcmp(argv[index], "--") != 0; ++index) {
        const std::string option = argv[index];
        long long number = 0;
        bool ok = true;
        if (option == "--database")
            ok = TakeValue(argc, argv, index, options.database, problem);
        else if (option == "--output")
            ok = TakeValue(argc, argv, index, options.outputPath, problem);
        else if (option == "--run" && (ok = TakeNumber(argc, argv, index, 1, number, problem)))
            options.runId = number;
        else if (option == "--time-limit" &&
                 (ok = TakeNumber(argc, argv, index, 0, number, problem)))
            options.timeLimitMinutes = static_cast<int>(std::min<long long>(number, 1 << 20));
        else if (option == "--report-fd" &&
                 (ok = TakeNumber(argc, argv, index, 3, number, problem)))
            options.reportFd = static_cast<int>(std::min<long long>(number, 1 << 20));
        else if (option != "--run" && option != "--time-limit" && option != "--report-fd") {
            problem = "okänt alternativ " + option;
            ok = false;
        }
        if (!ok)
            return {std::nullopt, problem};
    }
    if (options.database.empty() || options.runId == 0 || options.outputPath.empty())
        return {std::nullopt, "--database, --run och --output måste anges"};
    if (index + 1 >= argc)
        return {std::nullopt, "programmet som ska köras saknas efter --"};
    options.program = argv[index + 1];
    options.arguments.assign(argv + index + 2, argv + argc);
    return {options, {}};
}

} // namespace

int main(int argc, char** argv) {
    // No page cache allocated ahead for each connection: the supervisor reads a few pages.
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    ParseResult parsed = Parse(argc, argv);
    if (!parsed.options) {
        std::fprintf(stderr, "kvarnixrun: %s\n\n%s", parsed.problem.c_str(), kUsage);
        return kExitUsage;
    }
    CSupervisor supervisor(std::move(*parsed.options));
    return supervisor.Run();
}
