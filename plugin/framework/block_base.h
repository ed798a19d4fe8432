// The block base: implements the host's block interface, wraps every
// lifecycle call (logging, false-result reports, exception reports),
// carries the de-duplicated notifications, the declaration operations and
// the parameter-change protocol. Concrete blocks override the protected
// operations only.
//
// Threads: the host calls a block from one thread at a time and the base
// takes no lock. Every overridable below runs on the host's thread; the
// notes beside them say when. A block that starts a thread of its own marks
// what its lock guards where it keeps that state.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "framework/declarations.h"
#include "framework/handles.h"
#include "framework/notifications.h"
#include "framework/platform/drawing.h"
#include "framework/property.h"
#include "framework/smart_ptr.h"
#include "mrv/block.h"

namespace Mrv {

// Each block class returns its catalog record (registration/registrant.h).
class block_class_registrant;

// What the base does with an exception that a block's lifecycle method or
// parameter change raises; each block class states its own in its
// constructor.
struct exception_policy {
    // Not caught by the block: the wrapper reports it as unhandled.
    static exception_policy unhandled() { return {false, 0, nullptr}; }
    // An Mrv::IException's text is sent as a trace; the method answers
    // false, except Execute, which keeps the tick going.
    static exception_policy trace() { return {true, LevelTrace, nullptr}; }
    // Every exception is sent as an error and the method answers false; a
    // std::exception's text, or a note for one without text, follows
    // `prefix`.
    static exception_policy error(const char* prefix) { return {true, LevelError, prefix}; }

    bool caught;
    int32 level;
    const char* prefix;
};

template <class I>
class CBlockImplBase
    : public CPropertyContainerImpl<
          ksl::reference_counted_class_impl<I, IPropertyContainer, IEventSource, IEventHandler, ISignedObject>>,
      public handle_owner {
public:
    // host thread, from the block's factory; throws CLogicExceptionImpl for
    // a null context, a zero object id or missing kernel services.
    CBlockImplBase(const CreationContext* context, exception_policy policy);
    ~CBlockImplBase() override;

    // Public lifecycle, called by the host in this order.
    void InitInstance(ISignature* saved_signature, ILayout* saved_layout, IUnknown* arguments) override;
    void DoneInstance() override;
    bool InitBlock(IClock* clock, IUnknown* context, int32 value1, int32 value2) override;
    bool CheckBlock() override;
    bool StartBlock() override;
    bool ExecuteBlock() override;
    void StopBlock() override;
    void DoneBlock() override;

    ISignature* GetSignature() override { return signature_.get(); }
    ILayout* GetLayout() override { return layout_.get(); }
    IStatus* GetStatus() override { return status_.get(); }

    bool GetUiFlag(int32 index) override;
    bool IsUiOwnerDrawn() override { return false; }
    int64 GetUiValue(int32 index, int64 argument) override { return UiValue(index, argument); }
    int32 GetUiInt(int32 index) override { return index == 0 ? ui_ints_[0] : ui_ints_[1]; }
    void GetUiSize(UiSize* size) override { if (size) *size = ui_size_; }
    void GetUiColour(double* rgb) override;
    bool SetUiValue(int64 value) override;
    void OnUiNotify(int32, int64) override {}
    void OnUiNotify3(int32, int64, int64) override {}
    void Draw(IDrawingDevice*, const Rectangle&, const Rectangle&, int32, int32) override {}
    void DrawNCAreas(IDrawingDevice* device, const Area* areas, int32 count, int32 extra) override;
    bool ReleaseUiResources() override;

    // host thread: kind 1 parameter changes, kind 4 user-interface queries.
    bool HandleEvent(IEvent* event) override;

    void Advise(IEventHandler* handler) override;
    void Unadvise(IEventHandler* handler) override;
    uint64 GetObjectId() const override { return object_id_; }
    IBlockClass* GetBlockClass() override { return block_class_; }

    // The parameter-change protocol; also used when restoring saved values.
    bool ChangeParameter(IParameter* parameter, IDatatype* new_value);

protected:
    // Overridables, in the host's slot order. Pin and parameter handles are
    // the base's: bound before Init (pins) or at first use (parameters),
    // dropped after Done and DoneSignature.
    //
    // From InitInstance on first declaration, and when a saved declaration
    // did not fit: declares the tables given to UseTable, in order.
    virtual void InitSignature();
    // At the tear-down of the signature, after Done.
    virtual void DoneSignature() {}
    // From InitInstance when a saved patch is restored, after the base
    // checked the saved declaration against the tables: what the tables
    // cannot say (items that depend on a saved value). Raising makes the
    // base declare afresh.
    virtual void CheckSignature() {}
    virtual void RestoreArguments(IUnknown* /*arguments*/) {}
    virtual void RestoreParameterValues(ISignature* saved_signature);
    // Any state: false vetoes the change.
    virtual bool OnChangingParameter(const std::string& /*id*/, IDatatype* /*new_value*/) { return true; }
    // Any state, after a change was applied.
    virtual void OnChangedParameter(const std::string& /*id*/) {}
    // After InitInstance and the connection of the pins.
    virtual bool Init() { return true; }
    // Between Init and Start.
    virtual bool Check() { return true; }
    // After Check; may follow Stop again.
    virtual bool Start() { return true; }
    // Between Start and Stop: on a new value of a driving input, or on an
    // execution the block asked for.
    virtual bool Execute() { return true; }
    // After Start; runs once however often the host stops.
    virtual void Stop() {}
    // After Stop, or after a failed Init; skipped unless Init got both of
    // its objects.
    virtual void Done() {}
    // The four user-interface value getters share this default.
    virtual int64 UiValue(int32 index, int64 argument);

    // Formatted notifications, levels 0 to 4, at most 511 characters,
    // de-duplicated across Execute calls.
    void NotifyTrace(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void NotifyMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void NotifyWarning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void NotifyError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void NotifyFatalError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The same, for text that is already formatted.
    void Notify(int32 level, const std::string& text);

    // The block's declaration table (from the constructor; several tables
    // are declared and checked in the order given).
    template <std::size_t N>
    void UseTable(const declaration (&table)[N]) {
        tables_.push_back({table, N});
    }

    // Declarations (from InitSignature, or at run time).
    void Declare(const declaration& row);
    template <std::size_t N>
    void Declare(const declaration (&table)[N]) {
        for (const auto& row : table) Declare(row);
    }
    // String-table form.
    void AddInput(const char* id, std::uint16_t name_id, std::uint16_t description_id,
                  const char* catalog_id, const char* class_id, bool required);
    void AddOutput(const char* id, std::uint16_t name_id, std::uint16_t description_id,
                   const char* catalog_id, const char* class_id);
    void AddParameter(const char* id, std::uint16_t name_id, std::uint16_t description_id,
                      const char* catalog_id, const char* class_id);
    void RemoveInput(const std::string& id);
    void RemoveOutput(const std::string& id);
    void RemoveParameter(const std::string& id);

    // Lookups by id, with a reference taken; throw CCollectionExceptionImpl
    // (class id message) when the id is not declared.
    CSmartPtr<IPin> FindInput(const std::string& id);
    CSmartPtr<IPin> FindOutput(const std::string& id);
    CSmartPtr<IParameter> FindParameter(const std::string& id);
    bool HasParameter(const std::string& id);
    bool HasOutput(const std::string& id);
    bool HasInput(const std::string& id);

    // A parameter's value object seen as T; a wrong interface raises
    // CCastExceptionImpl. The base holds the reference: it looks the
    // parameter up by id on first use and again after Done or a signature
    // change released it, so a parameter event is safe in every state and
    // blocks keep no parameter handles of their own.
    template <class T>
    T* ParameterValue(const std::string& id) {
        T* typed = interface_cast<T>(CachedParameterValue(id));
        if (typed == nullptr) throw CCastExceptionImpl();
        return typed;
    }

    // For a pair of double bound parameters: refuses, with the matching
    // error message, a lower bound not below the upper one or an upper bound
    // not above the lower one; every other change passes.
    bool BoundsStayOrdered(const std::string& id, IDatatype* new_value, const char* lower_id, const char* upper_id,
                           const char* lower_message, const char* upper_message) {
        if (id == lower_id &&
            CSmartPtr<IDouble>(new_value)->GetValue() >= ParameterValue<IDouble>(upper_id)->GetValue()) {
            NotifyError("%s", lower_message);
            return false;
        }
        if (id == upper_id &&
            ParameterValue<IDouble>(lower_id)->GetValue() >= CSmartPtr<IDouble>(new_value)->GetValue()) {
            NotifyError("%s", upper_message);
            return false;
        }
        return true;
    }

    // Sets a parameter's visibility (attribute 1) and tells the host.
    void SetParameterVisible(const std::string& id, bool visible);
    // Tells the host that the block changed one of its own parameters.
    void NotifyParameterChanged(const std::string& id);
    void NotifySignatureChanged();
    // Asks the host for an Execute without new input.
    void RequestExecution();

    bool IsRunning();
    // The current time of the clock handed to Init (0 before Init).
    TimeStamp Now() const;
    IKernelServices* Kernel() const { return kernel_.get(); }
    // The name the user gave this block in the patch.
    std::string InstanceName();
    // Shapes applied to an output (or any datatype object) of that class.
    void ShapeMatrix(IDatatype* target, int32 rows, int32 columns);
    void ShapeIntMatrix(IDatatype* target, int32 rows, int32 columns);
    // A labelled set whose elements are rows x columns double matrices.
    void ShapeLabelledSet(IDatatype* target, int32 element_rows, int32 element_columns);
    void ShapeTemporalData(IDatatype* target, int32 samples, int32 channels, double sample_rate, double minimum,
                           double maximum);

    // Scheduling: the base sets both execution settings to 1; blocks name
    // the inputs that drive them, from the constructor.
    void AddDrivingInput(const char* pin_id, int32 flag = 1) { status_->AddDrivingInput(pin_id, flag); }

    // The block's frame colour (fractions in [0, 1]).
    void SetColour(double red, double green, double blue);

    // handle_owner
    IPin* LookUpPin(bool input, const std::string& id) override {
        return input ? FindInput(id).get() : FindOutput(id).get();
    }
    bool HasPin(bool input, const std::string& id) override { return input ? HasInput(id) : HasOutput(id); }
    IParameter* LookUpParameter(const std::string& id) override { return FindParameter(id).get(); }

private:
    class log_session;
    template <class Result, class Body>
    Result Guarded(Result on_failure, Body&& body);
    void CheckTables();
    void ReleaseAllHandles();
    template <class Body>
    __attribute__((always_inline)) bool RunWrapped(const char* method, int32 level, Body&& body);
    void ReportException(log_session& log, const char* type, const char* method, const char* what);
    // Read on every wrapper call: the value object is looked up once per
    // signature.
    int32 TraceLevel() { return trace_level_ ? trace_level_->GetValue() : FirstTraceLevel(); }
    int32 FirstTraceLevel();
    void ReportFailure(log_session& log, const char* method, int32 trace);
    std::string LoadText(const text& source) const;
    void Notify(int32 level, const char* format, va_list arguments);
    bool ApplyChange(IParameter* parameter, IDatatype* new_value, bool structural, log_session& log);
    IDatatype* CachedParameterValue(const std::string& id);

    uint64 object_id_;
    IBlockClass* block_class_;
    CSmartPtr<IKernelServices> kernel_;
    int64 abort_timeout_;
    CSmartPtr<INotificationSink> sink_;
    bool deduplicate_ = false;
    recurring_texts recurring_;
    CSmartPtr<ISignature> signature_;
    CSmartPtr<ISignature> constructed_signature_;
    CSmartPtr<ILayout> layout_;
    CSmartPtr<IStatus> status_;
    CSmartPtr<IClock> clock_;
    CSmartPtr<IUnknown> init_context_;
    bool started_ = false;

    bool ui_flags_[7] = {false, true, false, false, false, false, true};
    int32 ui_ints_[2] = {0, 0};
    UiSize ui_size_{0, 0};
    double colour_[3] = {0.0, 0.0, 0.0};
    platform::brush_handle brush_;
    bool brush_out_of_date_ = false;

    std::vector<IEventHandler*> listeners_;
    std::map<std::string, std::vector<change_validator>> validators_;
    std::map<std::string, std::vector<change_handler>> handlers_;
    std::map<std::string, CSmartPtr<IDatatype>> parameter_values_;
    CSmartPtr<IInt> trace_level_;
    exception_policy policy_;
    struct table_ref {
        const declaration* rows;
        std::size_t count;
    };
    std::vector<table_ref> tables_;
};

}  // namespace Mrv
