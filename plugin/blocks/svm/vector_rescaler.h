// Rescales every element of a vector from its own range onto one interval.
#pragma once

#include "framework/block_base.h"

namespace Mrv {

// An exception in a lifecycle method is reported as a trace.
class CVectorRescaler : public CBlockImplBase<IBlock> {
public:
    // The class's record in the catalog.
    static block_class_registrant Registrant();
    explicit CVectorRescaler(const CreationContext* context);

protected:
    bool OnChangingParameter(const std::string& id, IDatatype* new_value) override;
    bool Init() override;
    bool Execute() override;

private:
    input_pin<IDoubleMatrix> input_, ranges_;
    output_pin<IDoubleMatrix> output_;
    parameter_handle<IDouble> low_, high_;
    int32 count_ = 0;
};

}  // namespace Mrv
