// Rescales every element of a vector from its own range onto one interval.
#pragma once

#include "framework/block_base.h"

namespace Mrv {

class CVectorRescaler : public CBlockImplBase<IBlock> {
public:
    // host thread, from the factory.
    explicit CVectorRescaler(const CreationContext* context);

protected:
    void InitSignature() override;
    void DoneSignature() override;
    void CheckSignature() override;
    bool OnChangingParameter(const std::string& id, IDatatype* new_value) override;
    bool Init() override;
    bool Execute() override;
    void Done() override;

private:
    void ReleasePins();

    CSmartPtr<IDoubleMatrix> input_, ranges_, output_;
    int32 count_ = 0;
};

}  // namespace Mrv
