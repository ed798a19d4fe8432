// Writes every tick's input matrix to a text file in libsvm's data format:
// one line per row, column 0 the label, column j attribute j, zeros left out.
//
// Choices where the format's description leaves them open:
// - Overwrite mode leaves exactly the last tick in the file: after writing
//   from the start, the file is cut at the end of the new text, so no rows
//   of an earlier, longer tick stay behind for svm-train to read.
// - Only a regular file is written: a device, a FIFO, a socket or a folder
//   of that name is refused with the reason (never a hang on a FIFO nor a
//   tick lost in /dev/full).
// - Every tick's text is flushed to the file before Execute returns, so a
//   host that is killed keeps every tick it wrote.
#pragma once

#include <cstdio>
#include <string>

#include "framework/block_base.h"

namespace Mrv {

// An exception in a lifecycle method or a parameter change is reported as
// a trace.
class CLibSVMSave : public CBlockImplBase<IBlock> {
public:
    // The class's record in the catalog.
    static block_class_registrant Registrant();
    explicit CLibSVMSave(const CreationContext* context);
    ~CLibSVMSave() override;

protected:
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Done() override;

private:
    bool Overwriting();
    // Opens `name` for the current save mode; false when it cannot be
    // opened, with why in `reason` when something other than a regular
    // file has that name.
    bool Open(const std::string& name, std::string* reason);
    void Close();

    input_pin<IDoubleMatrix> input_;
    parameter_handle<IInt> save_mode_;
    int32 columns_ = 0, rows_ = 0;
    std::FILE* file_ = nullptr;
    std::string open_name_;
    std::string text_;  // reused by every tick
};

}  // namespace Mrv
