#include "drivername.h"

#include <algorithm>

static constexpr bool isAllowedInDriverName(char character)
{
    return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
           (character >= '0' && character <= '9') || character == '.' || character == '_' ||
           character == '-';
}

DriverNameProblem checkDriverName(std::string_view name)
{
    if (name.size() > maxDriverNameLength)
        return DriverNameProblem::tooLong;
    if (!std::all_of(name.begin(), name.end(), isAllowedInDriverName))
        return DriverNameProblem::forbiddenCharacter;
    return DriverNameProblem::none;
}

std::string_view describeDriverNameProblem(DriverNameProblem problem)
{
    switch (problem) {
    case DriverNameProblem::none:
        break;
    case DriverNameProblem::tooLong:
        return "the driver name is longer than 31 characters";
    case DriverNameProblem::forbiddenCharacter:
        return "the driver name may hold only letters, digits, '.', '_' and '-'";
    }
    return "the driver name is acceptable";
}

bool formatChangeCommand(std::span<char, changeCommandSize> command, std::string_view name)
{
    if (checkDriverName(name) != DriverNameProblem::none) {
        command[0] = '\0';
        return false;
    }
    // The check above bounds the name, so prefix, name and zero always fit.
    char* end = std::copy(changeCommandPrefix.begin(), changeCommandPrefix.end(), command.data());
    end = std::copy(name.begin(), name.end(), end);
    *end = '\0';
    return true;
}
