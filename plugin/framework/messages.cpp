#include "framework/messages.h"

#include <cstdarg>
#include <cstdio>

#include <boost/algorithm/string/replace.hpp>

namespace Mrv {
namespace {

const char* const message_table[] = {
    "Null pointer to serializable object.\n",
    "Null pointer to block.\n",
    "Error while accessing memory.\n",
    "Error while accessing memory.\nPointer 0x%p is not valid.\n",
    "Error accessing file on disk.\n",
    "The item specified was not found in the collection.\nInstance identifier (InstID) of the item was %I64u.\n",
    "The item specified was not found in the collection.\nInstance identifier (InstID) of the item was %I64u.\n",
    "The item specified was not found in the collection.\nPointer to the searched item was 0x%p.\n",
    "Error while accessing a collection.\nValid range index is [%d-%d]\nRequired index is %d.\n",
    "The item specified was not found in the collection.\nClass identifier (ClassID) of the searched item was \"%s\".\n",
    "Invalid type cast.\n",
    "Null source pin in link.\n",
    "Null sink pin in link.\n",
    "Cannot link pins.\n",
    "The datatype has already been created.\n",
    "Null pointer to creation context.\n",
    "Null (zero) object identifier.\n",
    "Disconnecting a sink not connected to the selected source.\n",
    "Disconnecting a source not connected to the selected sink.\n",
    "Disconnecting a target not connected to the selected source.\n",
    "Invalid event source reference.\n",
    "Invalid command source reference.\n",
    "Null pointer to datatype class.\n",
    "Null pointer to kernel services.\n",
    "Null pointer to kernel pin.\n",
    "IEvent::DeleteCopy() called for a non copy event.\n",
    "ICommand::DeleteCopy() called for a non copy command.\n",
    "Out of memory.\n",
    "IEvent::CreateCopy() out of memory.\n",
    "ICommand::CreateCopy() out of memory.\n",
    "The specified combo item index is not valid.\n",
    "The specified combo size is not valid.\n",
    "Null pointer to datatype.\n",
    "Failed to create a thread handle.\n",
    "Failed to create a Win32 event object.\n",
    "Null pointer to command.\n",
    "Failed to queue an Asynchronous Procedure Call (APC).\n",
    "WaitForSingleObject failed.\n",
    "Unknown thread mode.\n",
    "PostThreadMessage failed.\n",
    "Method has not been overriden inderived classes.\n",
    "Datatypes are not compatible as they belong to different catalogs.\n",
    "Datatypes are not compatible as they have different ClassIDs.\n",
    "Failed to send command.",
    "Invalid catalog index spcified.\n",
    "Invalid catalog Id spcified.\n",
    "Catalog factory: null pointer (CreateFnPtr).\n",
    "Catalog factory: null pointer (DestroyFnPtr).\n",
    "Catalog factory: invalid pointer to catalog.\n",
    "Catalog Error: catalog is disabled, cannot instantiate objects.\n",
    "Catalog error: failed to instantiate block.\n",
    "Catalog error: failed to instantiate subpatch.\n",
    "Catalog error: failed to instantiate datatype.\n",
    "Catalog error: failed to instantiate datatype initinfo.\n",
    "Catalog error: failed to instantiate datatype domain.\n",
    "Catalog error: failed to instantiate datatype layout.\n",
    "Catalog error: failed to instantiate datatype converter.\n",
    "Catalog error: failed to instantiate device.\n",
    "Catalog error: failed to instantiate device enumerator.\n",
    "Catalog error: failed to instantiate clock.\n",
    "Catalog error: failed to instantiate patch storage.\n",
    "Pin already has a domain.\n",
    "Block layout action is not valid.\n",
    "Property set index is out of range.\n",
    "Unserialize failed.\n",
};

static_assert(sizeof(message_table) / sizeof(message_table[0]) ==
                  static_cast<std::size_t>(MessageId::Count),
              "one text per message id");

}  // namespace

const char* message(MessageId id) { return message_table[static_cast<int>(id)]; }

std::string format_message(MessageId id, ...) {
    // The table keeps the Windows 64-bit conversion; the C library here
    // spells it differently.
    std::string format = message(id);
    boost::algorithm::replace_all(format, "%I64u", "%llu");
    char buffer[1024];
    va_list arguments;
    va_start(arguments, id);
    std::vsnprintf(buffer, sizeof buffer, format.c_str(), arguments);
    va_end(arguments);
    return buffer;
}

std::string format_text(const char* format, ...) {
    char buffer[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

}  // namespace Mrv
