#include "terminal/CommandLine.h"

#include <charconv>
#include <sstream>
#include <stdexcept>

#include "terminal/PellithLibrary.h"

namespace {

// The name of "--name" or "--name=value"; empty for anything else.
std::string_view NameOf(std::string_view AArgument) {
    if (AArgument.size() < 3 || AArgument.substr(0, 2) != "--")
        return {};
    return AArgument.substr(2, AArgument.find('=') == std::string_view::npos
                                   ? std::string_view::npos
                                   : AArgument.find('=') - 2);
}

} // namespace

TCommandLine::TCommandLine(std::vector<std::string> AArguments)
    : FArguments(std::move(AArguments)) {}

TCommandLine::TCommandLine(int argc, char** argv)
    : FArguments(argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                          : std::vector<std::string>()) {}

const std::string* TCommandLine::Find(const char* AName) const {
    const std::string* found = nullptr;
    for (const std::string& argument : FArguments)
        if (NameOf(argument) == AName)
            found = &argument;
    return found;
}

std::wstring TCommandLine::Text(const char* AName) const {
    const std::string* argument = Find(AName);
    const std::size_t equals = argument ? argument->find('=') : std::string::npos;
    if (equals == std::string::npos)
        return {};
    std::string value = argument->substr(equals + 1);
    if (!value.empty() && value[0] == '/') {
        for (char& c : value)
            if (c == '/')
                c = '\\';
        value = "Z:" + value;
    }
    return Wide(value);
}

bool TCommandLine::Has(const char* AName) const {
    return Find(AName) != nullptr;
}

namespace {

// The value of --name=value, and whether the option was there at all.
template <class TValue>
bool ReadNumber(const std::string* AArgument, const char* AName, TValue AMin, TValue AMax,
                const char* AKind, TValue& AValue) {
    if (!AArgument)
        return false;
    const std::size_t equals = AArgument->find('=');
    const char* first = equals == std::string::npos ? AArgument->data() + AArgument->size()
                                                    : AArgument->data() + equals + 1;
    const char* last = AArgument->data() + AArgument->size();
    const auto [end, error] = std::from_chars(first, last, AValue);
    if (first == last || error != std::errc() || end != last || !(AValue >= AMin) ||
        !(AValue <= AMax)) {
        std::ostringstream message;
        message << "--" << AName << " needs " << AKind << " from " << AMin << " to " << AMax
                << ", not \"" << std::string(first, last) << "\"";
        throw std::invalid_argument(message.str());
    }
    return true;
}

} // namespace

int TCommandLine::Integer(const char* AName, int ADefault, int AMin, int AMax) const {
    int value = 0;
    return ReadNumber(Find(AName), AName, AMin, AMax, "a whole number", value) ? value : ADefault;
}

double TCommandLine::Number(const char* AName, double ADefault, double AMin, double AMax) const {
    double value = 0;
    return ReadNumber(Find(AName), AName, AMin, AMax, "a number", value) ? value : ADefault;
}

std::vector<std::string> TCommandLine::Unknown(std::initializer_list<const char*> ANames) const {
    std::vector<std::string> unknown;
    for (const std::string& argument : FArguments) {
        bool known = false;
        for (const char* name : ANames)
            known = known || NameOf(argument) == name;
        if (!known)
            unknown.push_back(argument);
    }
    return unknown;
}
