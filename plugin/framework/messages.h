// The library-wide message table: fixed texts addressed by position.
#pragma once

#include <cstdint>
#include <string>

namespace Mrv {

enum class MessageId : int {
    NullSerializable, NullBlock, MemoryAccess, MemoryPointer, FileAccess,
    ItemNotFoundInstId, ItemNotFoundInstId2, ItemNotFoundPointer, CollectionRange,
    ItemNotFoundClassId, InvalidTypeCast, NullSourcePin, NullSinkPin, CannotLinkPins,
    DatatypeAlreadyCreated, NullCreationContext, NullObjectId, DisconnectSink,
    DisconnectSource, DisconnectTarget, InvalidEventSource, InvalidCommandSource,
    NullDatatypeClass, NullKernelServices, NullKernelPin, EventDeleteCopy,
    CommandDeleteCopy, OutOfMemory, EventCreateCopy, CommandCreateCopy,
    InvalidComboIndex, InvalidComboSize, NullDatatype, ThreadHandle, Win32Event,
    NullCommand, QueueApc, WaitFailed, UnknownThreadMode, PostThreadMessage,
    NotOverridden, DifferentCatalogs, DifferentClassIds, SendCommand,
    InvalidCatalogIndex, InvalidCatalogId, NullCreateFn, NullDestroyFn,
    InvalidCatalogPointer, CatalogDisabled, InstantiateBlock, InstantiateSubpatch,
    InstantiateDatatype, InstantiateInitInfo, InstantiateDomain, InstantiateLayout,
    InstantiateConverter, InstantiateDevice, InstantiateDeviceEnumerator,
    InstantiateClock, InstantiatePatchStorage, PinHasDomain, InvalidLayoutAction,
    PropertySetIndex, UnserializeFailed,
    Count
};

// Language of the table's texts.
constexpr std::uint16_t message_table_language = 1033;

const char* message(MessageId id);

// The message with its printf-style placeholders filled in.
std::string format_message(MessageId id, ...);

// A block's own message text with its printf-style placeholders filled in
// (for exception messages; notifications format by themselves).
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Mrv
