// The framework's exception classes. They are thrown by value and caught by
// the host as `const Mrv::IException&`; each carries a fixed message text.
#pragma once

#include <string>

#include "framework/messages.h"
#include "framework/reference_counted.h"
#include "mrv/exceptions.h"

namespace Mrv {

template <class I>
class CExceptionImpl : public ksl::reference_counted_class_impl<I> {
public:
    explicit CExceptionImpl(std::string message) : message_(std::move(message)) {}
    ~CExceptionImpl() override = default;
    const char* GetDescription() const override { return message_.c_str(); }

    // A thrown exception is owned by the runtime, never by a count.
    uint32 AddRef() override { return 1; }
    uint32 Release() override { return 1; }

private:
    std::string message_;
};

class CLogicExceptionImpl : public CExceptionImpl<ILogicException> {
public:
    // Raised without a text, it reports its interface's name.
    CLogicExceptionImpl() : CExceptionImpl("ILogicException") {}
    using CExceptionImpl::CExceptionImpl;
};

class CCastExceptionImpl : public CExceptionImpl<ICastException> {
public:
    CCastExceptionImpl() : CExceptionImpl(message(MessageId::InvalidTypeCast)) {}
    using CExceptionImpl::CExceptionImpl;
};

// Wraps a std::exception raised inside a property or factory operation.
class CStdExceptionImpl : public CExceptionImpl<ILogicException> {
public:
    using CExceptionImpl::CExceptionImpl;
    explicit CStdExceptionImpl(const std::exception& error) : CExceptionImpl(error.what()) {}
};

class CMemoryExceptionImpl : public CExceptionImpl<IMemoryException> {
public:
    CMemoryExceptionImpl() : CExceptionImpl(message(MessageId::MemoryAccess)) {}
    using CExceptionImpl::CExceptionImpl;
};

class CCollectionExceptionImpl : public CExceptionImpl<ICollectionException> {
public:
    using CExceptionImpl::CExceptionImpl;
    // The range message with the valid bounds [0, count - 1] and the index.
    static CCollectionExceptionImpl out_of_range(int32 count, int32 index);
};

}  // namespace Mrv
