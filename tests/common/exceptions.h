// What an action throws, as the tests compare it.
#pragma once

#include <stdexcept>
#include <string>

#include "mrv/exceptions.h"

// The description of the Mrv::IException it throws, "std: " and what() for
// another exception, or "no exception".
template <class Action>
std::string description_of(Action&& action) {
    try {
        action();
    } catch (const Mrv::IException& error) {
        return error.GetDescription();
    } catch (const std::exception& error) {
        return std::string("std: ") + error.what();
    }
    return "no exception";
}
