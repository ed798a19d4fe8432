// Steadies the output of a classifier: remembers the last NValues inputs
// and reports the most frequent one when its share of the window reaches
// Threshold percent, otherwise NotRecValue.
//
// Choices where the behaviour is otherwise open:
// - When no entry of the window has a positive frequency (only starting
//   entries of value 0.0 whose counts the zero-filled start has lowered,
//   e.g. NValues 3 after the inputs 0, 0), nothing is recognised whatever
//   Threshold is: Recognized is 0, OutputValue and max_freq_val carry
//   NotRecValue and max_freq is 0.0.
// - NValues below 1 at Init (possible only from a hand-edited saved patch,
//   the editor's domain refuses it) makes Init fail with a message.
#pragma once

#include <memory>

#include "blocks/sequence/stabilizer_window.h"
#include "framework/block_base.h"

namespace Mrv {

// An exception in a lifecycle method is reported as a trace.
class CStabilizer : public CBlockImplBase<IBlock> {
public:
    // The class's record in the catalog.
    static block_class_registrant Registrant();
    explicit CStabilizer(const CreationContext* context);

protected:
    bool Init() override;
    bool Execute() override;
    void Done() override;

private:
    input_pin<IDouble> input_;
    output_pin<IInt> recognized_;
    output_pin<IDouble> output_value_;
    output_pin<IDoubleMatrix> buffer_;
    output_pin<IDouble> max_freq_;
    output_pin<IDouble> max_freq_value_;
    parameter_handle<IInt> length_;
    parameter_handle<IDouble> threshold_;
    parameter_handle<IDouble> not_recognized_;
    std::unique_ptr<sequence::stabilizer_window> window_;
};

}  // namespace Mrv
