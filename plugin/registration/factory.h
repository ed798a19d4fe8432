// The factory function every block class registers.
#pragma once

#include <new>

#include "framework/exceptions.h"
#include "mrv/kernel.h"

namespace Mrv {

// Creates a Block from the host's creation context (the class id is not
// needed); the caller owns the one reference. A std::exception raised
// while constructing is raised again as CStdExceptionImpl; a failed
// allocation gives null.
template <class Block>
IBlock* create_block(const CreationContext* context, const char* /*class_id*/) {
    try {
        return new Block(context);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const IException&) {
        throw;
    } catch (const std::exception& error) {
        throw CStdExceptionImpl(error);
    }
}

}  // namespace Mrv
