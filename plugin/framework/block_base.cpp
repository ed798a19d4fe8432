#include "framework/block_base.h"

#include <cstdarg>
#include <cstdio>
#include <optional>

#include <boost/format.hpp>

#include "framework/declaring.h"
#include "framework/platform/module.h"
#include "framework/platform/resources.h"
#include "framework/shapes.h"
#include "framework/ui_queries.h"

namespace Mrv {
namespace {

constexpr const char* log_method_format = "Block %1%: method %2% %3%\n";
constexpr const char* error_in_method_format = "Block %1%: error in method %2%\n";
constexpr const char* unhandled_exception_format =
    "Block %1%: unhandled exception of type %2% in method %3%; exception message is %4%\n";
constexpr const char* brush_failed_message = "CBlockImplBase<T>::DrawNCAreas -- failed to create solid brush\n";
constexpr const char* fill_failed_message = "CBlockImplBase<T>::DrawNCAreas -- FillRect failed\n";
constexpr const char* unknown_exception_text = "an exception without a message was raised.\n";

// Trace levels at which the wrappers log.
constexpr int32 trace_lifecycle = 3;
constexpr int32 trace_parameter_change = 4;
constexpr int32 trace_signature = 5;
constexpr int32 trace_execute = 6;

}  // namespace

// All log lines of one wrapper call go into one host log entry.
template <class I>
class CBlockImplBase<I>::log_session {
public:
    // Takes no reference: the block holds the kernel services for its life,
    // and an Execute with tracing off never writes.
    explicit log_session(CBlockImplBase& block) : block_(block) {}

    void write(int32 severity, const std::string& text) {
        ILog* log = block_.kernel_->GetLog();
        if (!log) return;
        if (entry_) log->Append(*entry_, severity, text.c_str());
        else entry_ = log->Open(severity, text.c_str());
    }
    void method(const char* name, const char* phase) {
        write(LogInfo, (boost::format(log_method_format) % block_.InstanceName() % name % phase).str());
    }

private:
    CBlockImplBase& block_;
    std::optional<int64> entry_;
};

template <class I>
CBlockImplBase<I>::CBlockImplBase(const CreationContext* context, exception_policy policy) : policy_(policy) {
    if (context == nullptr) throw CLogicExceptionImpl(message(MessageId::NullCreationContext));
    if (context->object_id == 0) throw CLogicExceptionImpl(message(MessageId::NullObjectId));
    if (context->kernel == nullptr) throw CLogicExceptionImpl(message(MessageId::NullKernelServices));
    object_id_ = context->object_id;
    block_class_ = context->block_class;
    kernel_ = context->kernel;
    abort_timeout_ = kernel_->GetKernelValue("kernel", "abort_timeout");
    sink_ = kernel_->GetNotificationSink();
    deduplicate_ = true;
    I* self = this;
    signature_ = CSmartPtr<ISignature>::adopt(kernel_->CreateSignature(self));
    constructed_signature_ = signature_;
    layout_ = CSmartPtr<ILayout>::adopt(kernel_->CreateLayout(self));
    status_ = CSmartPtr<IStatus>::adopt(kernel_->CreateStatus(self));
    // Every block of the catalog runs with both execution settings at 1.
    status_->SetExecutionSetting(1);
    status_->SetSecondExecutionSetting(1);
}

template <class I>
CBlockImplBase<I>::~CBlockImplBase() = default;

template <class I>
int32 CBlockImplBase<I>::FirstTraceLevel() {
    IParameter* trace = signature_ ? signature_->GetTraceLevel() : nullptr;
    if (!trace) return 0;
    trace_level_ = trace->GetValue();
    return trace_level_->GetValue();
}

template <class I>
std::string CBlockImplBase<I>::InstanceName() {
    const char* name = kernel_->GetInstanceName(this);
    return name ? name : "";
}

template <class I>
std::string CBlockImplBase<I>::LoadText(const text& source) const {
    if (!source.is_resource()) return source.literal();
    return platform::load_string(platform::current_module(), source.resource_id(), message_table_language);
}

template <class I>
void CBlockImplBase<I>::ReportException(log_session& log, const char* type, const char* method,
                                        const char* what) {
    const std::string report =
        (boost::format(unhandled_exception_format) % InstanceName() % type % method % what).str();
    Notify(LevelFatal, report);
    try {
        if (TraceLevel() >= 1) log.write(LogError, report);
    } catch (...) {
        // The trace level itself is unreadable: the notification is enough.
    }
}

// Out of the wrappers' way: a method that answered false.
template <class I>
void CBlockImplBase<I>::ReportFailure(log_session& log, const char* method, int32 trace) {
    const std::string report = (boost::format(error_in_method_format) % InstanceName() % method).str();
    Notify(LevelError, report);
    if (trace >= 2) log.write(LogError, report);
}

// Inlined into each wrapper: a tick pays for one call frame, not two.
template <class I>
template <class Body>
inline bool CBlockImplBase<I>::RunWrapped(const char* method, int32 level, Body&& body) {
    log_session log(*this);
    try {
        const int32 trace = TraceLevel();
        if (trace >= level) log.method(method, "starting");
        bool sets_to_clear = false;
        const bool result = body(sets_to_clear);
        if (!result) ReportFailure(log, method, trace);
        if (trace >= level) log.method(method, "returned");
        if (sets_to_clear) recurring_.clear();
        return result;
    } catch (const IException& error) {
        ReportException(log, "Mrv::IException", method, error.GetDescription());
    } catch (const std::exception& error) {
        ReportException(log, "std::exception", method, error.what());
    }
    return false;
}

// Applies the class's exception policy around one overridable.
template <class I>
template <class Result, class Body>
Result CBlockImplBase<I>::Guarded(Result on_failure, Body&& body) {
    if (!policy_.caught) return body();
    try {
        return body();
    } catch (const IException& error) {
        Notify(policy_.level, std::string(error.GetDescription()));
    } catch (const std::exception& error) {
        if (!policy_.prefix) throw;
        Notify(policy_.level, std::string(policy_.prefix) + error.what() + "\n");
    } catch (...) {
        if (!policy_.prefix) throw;
        Notify(policy_.level, std::string(policy_.prefix) + unknown_exception_text);
    }
    return on_failure;
}

template <class I>
void CBlockImplBase<I>::ReleaseAllHandles() {
    parameter_values_.clear();
    ReleaseHandles();
}

template <class I>
void CBlockImplBase<I>::InitSignature() {
    for (const table_ref& table : tables_)
        for (std::size_t i = 0; i < table.count; ++i) Declare(table.rows[i]);
}

// A restored declaration must hold every checked row of the tables, each
// parameter with the interface its class promises.
template <class I>
void CBlockImplBase<I>::CheckTables() {
    for (const table_ref& table : tables_)
        for (std::size_t i = 0; i < table.count; ++i) {
            const declaration& row = table.rows[i];
            if (!row.checked) continue;
            const std::string& id = row.descriptor.id;
            switch (row.kind) {
            case declaration_kind::input: FindInput(id); break;
            case declaration_kind::output: FindOutput(id); break;
            case declaration_kind::parameter:
                check_value_interface(row.descriptor.datatype_class_id, CachedParameterValue(id));
                break;
            }
        }
}

// host thread, once after construction; exceptions from a first
// declaration pass to the host.
template <class I>
void CBlockImplBase<I>::InitInstance(ISignature* saved_signature, ILayout* saved_layout, IUnknown* arguments) {
    log_session log(*this);
    if (saved_signature == nullptr) {
        const int32 trace = TraceLevel();
        if (trace >= trace_signature) log.method("InitSignature", "starting");
        InitSignature();
        if (trace >= trace_signature) log.method("InitSignature", "returned");
        return;
    }
    CSmartPtr<ISignature> saved(saved_signature);
    signature_ = saved;
    trace_level_ = nullptr;
    ReleaseAllHandles();
    if (saved_layout) layout_ = saved_layout;
    try {
        const int32 trace = TraceLevel();
        if (trace >= trace_signature) log.method("CheckSignature", "starting");
        RestoreArguments(arguments);
        CheckTables();
        CheckSignature();
        if (trace >= trace_signature) log.method("CheckSignature", "returned");
    } catch (const IException& error) {
        // The saved declaration no longer fits: declare afresh on the
        // block's own signature and carry the saved values over.
        ReportException(log, "Mrv::IException", "InitInstance", error.GetDescription());
        signature_ = constructed_signature_;
        trace_level_ = nullptr;
        ReleaseAllHandles();
        signature_->Clear();
        layout_->Clear();
        const int32 trace = TraceLevel();
        if (trace >= trace_signature) log.method("InitSignature", "starting");
        InitSignature();
        if (trace >= trace_signature) log.method("InitSignature", "returned");
        RestoreParameterValues(saved.get());
    }
}

// host thread, after Done, before the last release.
template <class I>
void CBlockImplBase<I>::DoneInstance() {
    log_session log(*this);
    const int32 trace = TraceLevel();
    if (trace >= trace_signature) log.method("DoneSignature", "starting");
    ReleaseAllHandles();
    signature_->Clear();
    DoneSignature();
    ReleaseAllHandles();
    if (trace >= trace_signature) log.method("DoneSignature", "returned");
}

// host thread, after InitInstance and the connection of the pins.
template <class I>
bool CBlockImplBase<I>::InitBlock(IClock* clock, IUnknown* context, int32, int32) {
    clock_ = clock;
    init_context_ = context;
    return RunWrapped("Init", trace_lifecycle, [this](bool& clear) {
        clear = true;
        const bool result = Guarded(false, [this] {
            BindPinHandles();
            return Init();
        });
        // A failed Init leaves no pin bound, so that Execute finds none.
        if (!result) ReleaseAllHandles();
        return result;
    });
}

// host thread, between Init and Start.
template <class I>
bool CBlockImplBase<I>::CheckBlock() {
    return RunWrapped("Check", trace_lifecycle, [this](bool& clear) {
        clear = true;
        return Guarded(false, [this] { return Check(); });
    });
}

// host thread, after Check; may follow Stop again.
template <class I>
bool CBlockImplBase<I>::StartBlock() {
    return RunWrapped("Start", trace_lifecycle, [this](bool& clear) {
        started_ = true;
        clear = true;
        return Guarded(false, [this] { return Start(); });
    });
}

// host thread, once per tick between Start and Stop.
template <class I>
bool CBlockImplBase<I>::ExecuteBlock() {
    recurring_.begin_execute();
    const bool result = RunWrapped("Execute", trace_execute,
                                   [this](bool&) { return Guarded(policy_.level != LevelError, [this] { return Execute(); }); });
    recurring_.end_execute();
    return result;
}

// host thread, after Start; a second Stop does nothing.
template <class I>
void CBlockImplBase<I>::StopBlock() {
    if (!started_) return;
    RunWrapped("Stop", trace_lifecycle, [this](bool& clear) {
        started_ = false;
        Guarded(0, [this] { Stop(); return 0; });
        clear = true;
        return true;
    });
}

// host thread, after Stop; skipped unless Init stored both of its objects.
template <class I>
void CBlockImplBase<I>::DoneBlock() {
    if (clock_ && init_context_) {
        RunWrapped("Done", trace_lifecycle, [this](bool& clear) {
            Guarded(0, [this] { Done(); return 0; });
            clear = true;
            return true;
        });
    }
    clock_ = nullptr;
    init_context_ = nullptr;
    // Released with the other references; a later use binds them again.
    ReleaseAllHandles();
}

template <class I>
void CBlockImplBase<I>::Notify(int32 level, const char* format, va_list arguments) {
    Notify(level, format_notification(format, arguments));
}

template <class I>
void CBlockImplBase<I>::Notify(int32 level, const std::string& full_text) {
    const std::string text = full_text.substr(0, longest_notification);
    if (deduplicate_ && !recurring_.admit(text)) return;
    if (sink_) sink_->Message(this, level, text.c_str());
}

#define MRV_DEFINE_NOTIFY(Name, Level)                               \
    template <class I>                                               \
    void CBlockImplBase<I>::Name(const char* format, ...) {          \
        va_list arguments;                                           \
        va_start(arguments, format);                                 \
        Notify(Level, format, arguments);                            \
        va_end(arguments);                                           \
    }
MRV_DEFINE_NOTIFY(NotifyTrace, LevelTrace)
MRV_DEFINE_NOTIFY(NotifyMessage, LevelMessage)
MRV_DEFINE_NOTIFY(NotifyWarning, LevelWarning)
MRV_DEFINE_NOTIFY(NotifyError, LevelError)
MRV_DEFINE_NOTIFY(NotifyFatalError, LevelFatal)
#undef MRV_DEFINE_NOTIFY

// ---- declarations ---------------------------------------------------------

template <class I>
void CBlockImplBase<I>::Declare(const declaration& row) {
    const signature_item_descriptor& item = row.descriptor;
    add_to_signature(signature_.get(), row, LoadText(item.name), LoadText(item.description));
    if (row.kind != declaration_kind::parameter) return;
    if (!item.validators.empty()) {
        auto& stored = validators_[item.id];
        stored.insert(stored.end(), item.validators.begin(), item.validators.end());
    }
    if (!item.handlers.empty()) {
        auto& stored = handlers_[item.id];
        stored.insert(stored.end(), item.handlers.begin(), item.handlers.end());
    }
    set_up_parameter(FindParameter(item.id).get(), layout_.get(), row);
}

template <class I>
void CBlockImplBase<I>::AddInput(const char* id, std::uint16_t name_id, std::uint16_t description_id,
                                 const char* catalog_id, const char* class_id, bool required) {
    const std::string name = LoadText(name_id), description = LoadText(description_id);
    signature_->AddInput(id, name.c_str(), description.c_str(), catalog_id, class_id, required, false, 0);
}

template <class I>
void CBlockImplBase<I>::AddOutput(const char* id, std::uint16_t name_id, std::uint16_t description_id,
                                  const char* catalog_id, const char* class_id) {
    const std::string name = LoadText(name_id), description = LoadText(description_id);
    signature_->AddOutput(id, name.c_str(), description.c_str(), catalog_id, class_id, "", "", 0);
}

template <class I>
void CBlockImplBase<I>::AddParameter(const char* id, std::uint16_t name_id, std::uint16_t description_id,
                                     const char* catalog_id, const char* class_id) {
    const std::string name = LoadText(name_id), description = LoadText(description_id);
    signature_->AddParameter(id, name.c_str(), description.c_str(), catalog_id, class_id, "", "", 0, 0);
}

template <class I>
void CBlockImplBase<I>::RemoveInput(const std::string& id) {
    // An input that drives execution is withdrawn from scheduling first.
    status_->RemoveDrivingInput(id.c_str());
    signature_->RemoveInput(id.c_str());
}

template <class I>
void CBlockImplBase<I>::RemoveOutput(const std::string& id) {
    signature_->RemoveOutput(id.c_str());
}

template <class I>
void CBlockImplBase<I>::RemoveParameter(const std::string& id) {
    validators_.erase(id);
    handlers_.erase(id);
    parameter_values_.erase(id);
    ReleaseParameterHandles(id);
    signature_->RemoveParameter(id.c_str());
}

namespace {
template <class Found>
Found* found_or_throw(Found* found, const std::string& id) {
    if (!found) throw CCollectionExceptionImpl(format_message(MessageId::ItemNotFoundClassId, id.c_str()));
    return found;
}
}  // namespace

template <class I>
CSmartPtr<IPin> CBlockImplBase<I>::FindInput(const std::string& id) {
    return CSmartPtr<IPin>(found_or_throw(signature_->GetInputs()->Find(id.c_str()), id));
}

template <class I>
CSmartPtr<IPin> CBlockImplBase<I>::FindOutput(const std::string& id) {
    return CSmartPtr<IPin>(found_or_throw(signature_->GetOutputs()->Find(id.c_str()), id));
}

template <class I>
CSmartPtr<IParameter> CBlockImplBase<I>::FindParameter(const std::string& id) {
    return CSmartPtr<IParameter>(found_or_throw(signature_->GetParameters()->Find(id.c_str()), id));
}

template <class I>
IDatatype* CBlockImplBase<I>::CachedParameterValue(const std::string& id) {
    auto found = parameter_values_.find(id);
    if (found == parameter_values_.end())
        found = parameter_values_.emplace(id, CSmartPtr<IDatatype>(FindParameter(id)->GetValue())).first;
    return found->second.get();
}

template <class I>
bool CBlockImplBase<I>::HasParameter(const std::string& id) {
    return signature_->GetParameters()->Find(id.c_str()) != nullptr;
}

template <class I>
bool CBlockImplBase<I>::HasOutput(const std::string& id) {
    return signature_->GetOutputs()->Find(id.c_str()) != nullptr;
}

template <class I>
bool CBlockImplBase<I>::HasInput(const std::string& id) {
    return signature_->GetInputs()->Find(id.c_str()) != nullptr;
}

template <class I>
void CBlockImplBase<I>::SetParameterVisible(const std::string& id, bool visible) {
    FindParameter(id)->SetAttribute(AttrVisible, visible);
    if (sink_) sink_->ParameterVisibility(this, id.c_str(), visible);
}

template <class I>
void CBlockImplBase<I>::NotifyParameterChanged(const std::string& id) {
    CSmartPtr<IParameter> changed = FindParameter(id);
    if (sink_) sink_->ParameterChanged(this, changed.get(), changed->GetValue());
}

template <class I>
void CBlockImplBase<I>::NotifySignatureChanged() {
    if (sink_) sink_->SignatureChanged(this, signature_.get());
}

template <class I>
void CBlockImplBase<I>::RequestExecution() {
    if (IExecutionRequest* request = status_->GetExecutionRequest()) request->Request();
}

template <class I>
bool CBlockImplBase<I>::IsRunning() {
    return status_->GetStatus() != StatusDesign;
}

template <class I>
TimeStamp CBlockImplBase<I>::Now() const {
    return clock_ ? clock_->GetCurrentTime() : 0;
}

template <class I>
void CBlockImplBase<I>::ShapeMatrix(IDatatype* target, int32 rows, int32 columns) {
    shapes::matrix(kernel_.get(), target, rows, columns);
}

template <class I>
void CBlockImplBase<I>::ShapeIntMatrix(IDatatype* target, int32 rows, int32 columns) {
    shapes::int_matrix(kernel_.get(), target, rows, columns);
}

template <class I>
void CBlockImplBase<I>::ShapeLabelledSet(IDatatype* target, int32 element_rows, int32 element_columns) {
    shapes::labelled_set(kernel_.get(), target, element_rows, element_columns);
}

template <class I>
void CBlockImplBase<I>::ShapeTemporalData(IDatatype* target, int32 samples, int32 channels, double sample_rate,
                                          double minimum, double maximum) {
    shapes::temporal_data(kernel_.get(), target, samples, channels, sample_rate, minimum, maximum);
}

// ---- parameter changes ------------------------------------------------------

template <class I>
bool CBlockImplBase<I>::ChangeParameter(IParameter* parameter, IDatatype* new_value) {
    if (parameter == nullptr || new_value == nullptr) return false;
    const bool running = IsRunning();
    if (!parameter->GetAttribute(running ? AttrRunChange : AttrDesignChange)) return false;
    IDatatype* value = parameter->GetValue();
    if (parameter->ComparesBeforeAssignment() && value->Equals(new_value)) return true;

    auto old_shape = CSmartPtr<IInitInfo>::adopt(value->CreateInitInfo());
    auto new_shape = CSmartPtr<IInitInfo>::adopt(new_value->CreateInitInfo());
    const bool same_shape = (!old_shape && !new_shape) || (old_shape && new_shape && old_shape->Equals(new_shape.get()));
    const bool structural = !same_shape;
    if (structural && !parameter->GetAttribute(running ? AttrRunStructural : AttrDesignStructural)) return false;

    if (IDomain* domain = parameter->GetDomain())
        if (!domain->Accepts(value)) return false;

    log_session log(*this);
    return ApplyChange(parameter, new_value, structural, log);
}

template <class I>
bool CBlockImplBase<I>::ApplyChange(IParameter* parameter, IDatatype* new_value, bool structural,
                                    log_session& log) {
    const std::string id = parameter->GetId();
    IDatatype* value = parameter->GetValue();
    auto apply = [&] {
        if (structural) {
            auto shape = CSmartPtr<IInitInfo>::adopt(new_value->CreateInitInfo());
            if (shape) shape->Apply(value);
        }
        value->CopyFrom(new_value);
    };

    if (validators_.empty() && handlers_.empty()) {
        const int32 trace = TraceLevel();
        if (trace >= trace_parameter_change) log.method("OnChangingParameter", "starting");
        const bool accepted = Guarded(false, [&] { return OnChangingParameter(id, new_value); });
        if (trace >= trace_parameter_change) log.method("OnChangingParameter", "returned");
        if (!accepted) return false;
        apply();
        if (trace >= trace_parameter_change) log.method("OnChangedParameter", "starting");
        Guarded(0, [&] { OnChangedParameter(id); return 0; });
        if (trace >= trace_parameter_change) log.method("OnChangedParameter", "returned");
        return true;
    }

    const auto checks = validators_.find(id);
    if (checks != validators_.end())
        for (const auto& check : checks->second)
            if (!check(new_value)) return false;
    auto old_value = CSmartPtr<IDatatype>::adopt(
        kernel_->CreateDatatype(parameter->GetDatatypeCatalogId(), parameter->GetDatatypeClassId()));
    old_value->CopyFrom(value);
    apply();
    const auto reactions = handlers_.find(id);
    if (reactions != handlers_.end())
        for (const auto& react : reactions->second) react(old_value.get());
    return true;
}

template <class I>
void CBlockImplBase<I>::RestoreParameterValues(ISignature* saved_signature) {
    if (saved_signature == nullptr) return;
    IParameterCollection* current = signature_->GetParameters();
    IParameterCollection* saved = saved_signature->GetParameters();
    for (int32 i = 0; i < current->GetCount(); ++i) {
        IParameter* parameter = current->GetItem(i);
        IParameter* old = saved->Find(parameter->GetId());
        if (!old) continue;
        const std::string catalog = parameter->GetDatatypeCatalogId(), class_id = parameter->GetDatatypeClassId();
        if (catalog != old->GetDatatypeCatalogId() || class_id != old->GetDatatypeClassId()) continue;
        if (catalog == "kernel" && class_id == "trigger") continue;
        ChangeParameter(parameter, old->GetValue());
    }
}

// ---- host events and user interface ----------------------------------------

template <class I>
bool CBlockImplBase<I>::HandleEvent(IEvent* event) {
    if (event == nullptr) return false;
    try {
        if (event->GetKind() == EventParameterChange)
            return ChangeParameter(event->GetParameter(), event->GetNewValue());
        if (event->GetKind() != EventUserInterface) return false;
        return answer_ui_query(*this, *event);
    } catch (const IException& error) {
        Notify(LevelWarning, std::string(error.GetDescription()));
    }
    return false;
}

template <class I>
bool CBlockImplBase<I>::GetUiFlag(int32 index) {
    return index >= 0 && index < 7 ? ui_flags_[index] : false;
}

template <class I>
void CBlockImplBase<I>::GetUiColour(double* rgb) {
    if (rgb) std::copy(colour_, colour_ + 3, rgb);
}

template <class I>
bool CBlockImplBase<I>::SetUiValue(int64) {
    brush_out_of_date_ = true;
    return true;
}

template <class I>
int64 CBlockImplBase<I>::UiValue(int32, int64) {
    throw CLogicExceptionImpl(message(MessageId::NotOverridden));
}

template <class I>
void CBlockImplBase<I>::SetColour(double red, double green, double blue) {
    colour_[0] = red;
    colour_[1] = green;
    colour_[2] = blue;
    brush_out_of_date_ = true;
}

template <class I>
void CBlockImplBase<I>::DrawNCAreas(IDrawingDevice* device, const Area* areas, int32 count, int32) {
    if (brush_out_of_date_ || !brush_) {
        brush_.reset();
        brush_ = platform::create_solid_brush(colour_[0], colour_[1], colour_[2]);
        if (!brush_) throw CLogicExceptionImpl(brush_failed_message);
        brush_out_of_date_ = false;
    }
    for (int32 i = 0; i < count; ++i) {
        const Area& area = areas[i];
        const Rectangle rectangle{area.left, area.top, area.left + area.width, area.top + area.height};
        if (!platform::fill_rect(device, rectangle, *brush_)) throw CLogicExceptionImpl(fill_failed_message);
    }
}

template <class I>
bool CBlockImplBase<I>::ReleaseUiResources() {
    brush_.reset();
    return true;
}

template <class I>
void CBlockImplBase<I>::Advise(IEventHandler* handler) {
    if (handler) listeners_.push_back(handler);
}

template <class I>
void CBlockImplBase<I>::Unadvise(IEventHandler* handler) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), handler), listeners_.end());
}

template class CBlockImplBase<IBlock>;

}  // namespace Mrv
