// The host's own blocks (file sources and sinks, constants, printing).
// They implement the same block interface as plug-in blocks, so the patch
// engine treats both alike.
#pragma once

#include <string>

#include "host/kernel_services.h"
#include "mrv/block.h"

namespace mrvhost {

// Defaults for everything a host block does not need; subclasses declare
// their signature and react to Init, Execute and Done.
class HostBlock : public Object<Mrv::IBlock, Mrv::IEventHandler> {
public:
    void InitInstance(Mrv::ISignature* saved_signature, Mrv::ILayout* saved_layout, Mrv::IUnknown*) override;
    void DoneInstance() override { signature_->Clear(); }
    bool InitBlock(Mrv::IClock* clock, Mrv::IUnknown*, Mrv::int32, Mrv::int32) override;
    bool CheckBlock() override { return true; }
    bool StartBlock() override { return true; }
    bool ExecuteBlock() override;
    void StopBlock() override {}
    void DoneBlock() override;

    Mrv::ISignature* GetSignature() override { return signature_.get(); }
    Mrv::ILayout* GetLayout() override { return layout_.get(); }
    Mrv::IStatus* GetStatus() override { return status_.get(); }

    bool GetUiFlag(Mrv::int32) override { return false; }
    bool IsUiOwnerDrawn() override { return false; }
    Mrv::int64 GetUiValue(Mrv::int32, Mrv::int64) override { return 0; }
    Mrv::int32 GetUiInt(Mrv::int32) override { return 0; }
    void GetUiSize(Mrv::UiSize* size) override { if (size) *size = {0, 0}; }
    void GetUiColour(double* rgb) override { if (rgb) rgb[0] = rgb[1] = rgb[2] = 0.0; }
    bool SetUiValue(Mrv::int64) override { return true; }
    void OnUiNotify(Mrv::int32, Mrv::int64) override {}
    void OnUiNotify3(Mrv::int32, Mrv::int64, Mrv::int64) override {}
    void Draw(Mrv::IDrawingDevice*, const Mrv::Rectangle&, const Mrv::Rectangle&, Mrv::int32, Mrv::int32) override {}
    void DrawNCAreas(Mrv::IDrawingDevice*, const Mrv::Area*, Mrv::int32, Mrv::int32) override {}
    bool ReleaseUiResources() override { return true; }

    // Parameter changes: applied as proposed (the editor checked the domain).
    bool HandleEvent(Mrv::IEvent* event) override;

    // Sources say when they have nothing more to give.
    virtual bool exhausted() const { return true; }
    // A short account for the run summary ("150 rows read").
    virtual std::string progress() const { return ""; }

protected:
    explicit HostBlock(KernelServices& kernel);
    virtual void declare(Signature& signature) = 0;
    virtual bool init() { return true; }
    virtual void execute() = 0;
    virtual void done() {}

    Signature& signature() { return *signature_; }
    Mrv::IDatatype* output(const std::string& id);
    Mrv::IDatatype* input(const std::string& id);
    Mrv::IDatatype* parameter(const std::string& id);
    std::string string_parameter(const std::string& id);
    int int_parameter(const std::string& id);
    Mrv::TimeStamp now() const { return clock_ ? clock_->GetCurrentTime() : 0; }
    // The number of the current tick (1 for the first).
    long long tick() const;
    // Reports through the host's sink, as plug-in blocks do.
    void report(Mrv::int32 level, const std::string& text);

    Ref<Status> status_;

private:
    KernelServices& kernel_;
    Ref<Signature> signature_;
    Ref<Layout> layout_;
    Ref<Mrv::IClock> clock_;
};

// Creates a host block by class id ("host.csv_source", "host.constant",
// "host.csv_sink", "host.print"); null for other ids. `datatype` is the
// class id of the value a constant or sink carries; relative file names are
// resolved against `base_directory`.
Ref<HostBlock> create_host_block(KernelServices& kernel, const std::string& class_id, const std::string& datatype,
                                 const std::string& base_directory);
bool is_host_block_class(const std::string& class_id);

}  // namespace mrvhost
