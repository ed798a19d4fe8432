// Kernel services: what a block asks of the host.
#pragma once

#include "mrv/signature.h"

namespace Mrv {

MRV_INTERFACE IBlock;
MRV_INTERFACE IBlockClass;

MRV_INTERFACE IClock : IUnknown {
    MRV_DECLARE_INTERFACE(IClock, IUnknown);
    virtual TimeStamp GetCurrentTime() const = 0;
};

enum LogSeverity : int32 { LogInfo = 1, LogWarning = 2, LogError = 3 };

MRV_INTERFACE ILog : IUnknown {
    MRV_DECLARE_INTERFACE(ILog, IUnknown);
    // Opens an entry and returns its handle; Append adds to that entry.
    virtual int64 Open(int32 severity, const char* text) = 0;
    virtual void Append(int64 entry, int32 severity, const char* text) = 0;
};

enum NotificationLevel : int32 {
    LevelTrace = 0, LevelMessage = 1, LevelWarning = 2, LevelError = 3, LevelFatal = 4
};

MRV_INTERFACE INotificationSink : IUnknown {
    MRV_DECLARE_INTERFACE(INotificationSink, IUnknown);
    virtual void Message(IBlock* block, int32 level, const char* text) = 0;
    virtual void ParameterChanged(IBlock* block, IParameter* parameter, IDatatype* value) = 0;
    virtual void ParameterVisibility(IBlock* block, const char* parameter_id, bool shown) = 0;
    virtual void SignatureChanged(IBlock* block, ISignature* signature) = 0;
};

MRV_INTERFACE IKernelServices : IUnknown {
    MRV_DECLARE_INTERFACE(IKernelServices, IUnknown);
    // The Create operations hand the caller one reference; unknown ids throw
    // ILogicException.
    virtual IDatatype* CreateDatatype(const char* catalog_id, const char* class_id) = 0;
    virtual IInitInfo* CreateInitInfo(const char* catalog_id, const char* class_id) = 0;
    virtual ISignature* CreateSignature(IBlock* block) = 0;
    virtual ILayout* CreateLayout(IBlock* block) = 0;
    virtual IStatus* CreateStatus(IBlock* block) = 0;
    // Borrowed services.
    virtual ILog* GetLog() = 0;
    virtual INotificationSink* GetNotificationSink() = 0;
    virtual int64 GetKernelValue(const char* catalog_id, const char* key) = 0;
    // The block's name in the patch ("" when the host does not know it).
    virtual const char* GetInstanceName(IBlock* block) = 0;
};

// What a factory receives to construct a block.
struct CreationContext {
    uint64 object_id;
    uint32 reserved;
    IBlockClass* block_class;
    IKernelServices* kernel;
};

}  // namespace Mrv
