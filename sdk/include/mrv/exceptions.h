// Exception interfaces. Implementations are thrown by value and caught as
// `const Mrv::IException&` on the other side of the module boundary.
#pragma once

#include "mrv/base.h"

namespace Mrv {

MRV_INTERFACE IException : IUnknown {
    MRV_DECLARE_INTERFACE(IException, IUnknown);
    virtual const char* GetDescription() const = 0;
};

MRV_INTERFACE ILogicException : IException {
    MRV_DECLARE_INTERFACE(ILogicException, IException);
};

MRV_INTERFACE ICastException : IException {
    MRV_DECLARE_INTERFACE(ICastException, IException);
};

MRV_INTERFACE IMemoryException : IException {
    MRV_DECLARE_INTERFACE(IMemoryException, IException);
};

MRV_INTERFACE ICollectionException : IException {
    MRV_DECLARE_INTERFACE(ICollectionException, IException);
};

}  // namespace Mrv
