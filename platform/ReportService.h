#pragma once

#include <string>

namespace juv {

// Where administrators look for the outcome of a run that nobody watched. Best effort: a
// report that cannot be made changes nothing else.
class ReportService {
public:
    virtual ~ReportService() = default;

    // One line on the console of the program that started this one, where it has one.
    virtual void ToConsole(const std::wstring& line) = 0;
    // One entry in the system's application event log.
    virtual void ToEventLog(bool error, const std::wstring& line) = 0;
};

} // namespace juv
