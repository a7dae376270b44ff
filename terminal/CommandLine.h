#pragma once
// The command line of the project's Windows programs, one syntax for all of them: --name=value,
// and --name alone for a switch. Options the program does not read (GoogleTest's, say) are left
// to whoever reads them.

#include <initializer_list>
#include <string>
#include <vector>

class TCommandLine {
public:
    TCommandLine() = default;
    explicit TCommandLine(std::vector<std::string> AArguments);
    // The arguments after the program's name.
    TCommandLine(int argc, char** argv);

    // The value of --name=value, "" when absent (the last one wins). A Unix absolute path (as
    // CMake writes them) comes back as the Windows path Wine gives it on drive Z:.
    std::wstring Text(const char* AName) const;
    // True for --name and for --name=anything.
    bool Has(const char* AName) const;
    // --name=N as a whole number in [AMin, AMax], ADefault when absent. Throws
    // std::invalid_argument naming the option when the value is no such number.
    int Integer(const char* AName, int ADefault, int AMin, int AMax) const;
    // --name=X as a decimal number in [AMin, AMax], the same way.
    double Number(const char* AName, double ADefault, double AMin, double AMax) const;
    // The arguments that are neither --name nor --name=value for one of ANames, in order.
    std::vector<std::string> Unknown(std::initializer_list<const char*> ANames) const;

    const std::vector<std::string>& Arguments() const { return FArguments; }

private:
    const std::string* Find(const char* AName) const;

    std::vector<std::string> FArguments;
};
