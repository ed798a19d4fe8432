// The host's own blocks (file sources and sinks, constants, picking,
// printing).
// They implement the same block interface as plug-in blocks, so the patch
// engine treats both alike.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/kernel_services.h"
#include "mrv/block.h"

namespace mrvhost {

// Defaults for everything a host block does not need; subclasses declare
// their signature and react to Init, Execute and Done.
class HostBlock : public Object<Mrv::IBlock, Mrv::IEventHandler> {
public:
    // `datatype`: the class of the value the block carries; relative file
    // names are taken from `base_directory`.
    HostBlock(KernelServices& kernel, std::string datatype, std::string base_directory);
    void InitInstance(Mrv::ISignature* saved_signature, Mrv::ILayout* saved_layout, Mrv::IUnknown*) override;
    void DoneInstance() override { signature_->Clear(); }
    bool InitBlock(Mrv::IClock* clock, Mrv::IUnknown*, Mrv::int32, Mrv::int32) override;
    bool CheckBlock() override { return true; }
    bool StartBlock() override;
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
    // Blocks fed from outside while the patch runs (OSC): the engine waits
    // for them to ask for an execution instead of ticking on.
    virtual bool live() const { return false; }
    // Messages taken in and sent out so far, for the rates a live run shows.
    virtual long messages_in() const { return 0; }
    virtual long messages_out() const { return 0; }
    // Writes out what the block has gathered for a file (errors become
    // notifications, as from Execute); the engine calls it before it waits.
    void flush_output();
    // Whether the patch ticks on the clock rather than on each message.
    void set_paced(bool paced) { paced_ = paced; }
    // The name the patch gives the block (pictures are titled with it).
    void set_name(std::string name) { name_ = std::move(name); }
    const std::string& name() const { return name_; }

protected:
    virtual void declare(Signature& signature) = 0;
    virtual bool init() { return true; }
    // After every block has initialised: the time to touch files.
    virtual void start() {}
    virtual void execute() = 0;
    virtual void flush() {}
    virtual void done() {}

    Signature& signature() { return *signature_; }
    // Declares the string parameter File with the file-name layout, marked
    // as written or read, so that the patch's file check knows it.
    void declare_file(Signature& signature, const char* description, const char* filter, bool written);
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
    // The File parameter, resolved against the patch's folder.
    std::string file_parameter();

    Ref<Status> status_;
    // The class of the value the block carries.
    const std::string datatype_;
    bool paced_ = false;

private:
    // Runs one of the block's own steps; what it throws becomes an error
    // notification and false.
    template <class Step>
    bool guarded(Step&& step, bool executing);
    KernelServices& kernel_;
    Ref<Signature> signature_;
    Ref<Layout> layout_;
    Ref<Mrv::IClock> clock_;
    std::string base_directory_;
    std::string name_;
    // An execution error that recurs on every tick is reported once.
    std::string last_execute_error_;
};

// A host block class as mrv-inspect and patch files see it.
struct HostBlockClass {
    std::string id;
    std::string description;
    // The classes the block's `datatype` may name; the first is the default.
    std::vector<std::string> datatypes;
    std::function<HostBlock*(KernelServices&, const std::string& datatype, const std::string& base_directory)> create;
};
const std::vector<HostBlockClass>& host_block_classes();
// Null for ids that are not host block classes.
const HostBlockClass* find_host_block_class(const std::string& class_id);
bool is_host_block_class(const std::string& class_id);

// Creates a host block by class id; `datatype` is the class of the value it
// carries ("" for the default); relative file names are resolved against
// `base_directory`. Throws std::invalid_argument for an unknown class id or
// a datatype the class does not carry.
Ref<HostBlock> create_host_block(KernelServices& kernel, const std::string& class_id, const std::string& datatype,
                                 const std::string& base_directory);

}  // namespace mrvhost
