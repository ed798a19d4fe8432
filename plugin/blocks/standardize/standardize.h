// Standardize: z-scores of a feature vector against a training set given
// on a pin, optionally rounded to significant digits given on two more pins.
//
// Choices where the behaviour was left open:
// - The substitute host answers the data query of an input whenever it
//   holds a value, so the statistics are recomputed when the training set
//   answers it and it, or with rounding on the training digits, carries a
//   time stamp other than the one they were last computed from: the same
//   data give the same statistics, and a steady training set costs
//   nothing per tick.
// - A feature vector, training set or digits matrix whose shape changed
//   after Init is not read; the block warns once and leaves the output as
//   it was until the shapes are those of Init again.
#pragma once

#include "blocks/standardize/standardize_base.h"

namespace Mrv {

class CStandardizeImpl : public CStandardizeBase {
public:
    // host thread, from the factory.
    explicit CStandardizeImpl(const CreationContext* context);

protected:
    void InitSignature() override;
    void CheckSignature() override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Done() override;
    void DoneSignature() override;

private:
    void ReleasePins();

    CSmartPtr<IPin> training_pin_;
    CSmartPtr<IDoubleMatrix> training_;
    CSmartPtr<IIntMatrix> training_digits_;
    TimeStamp statistics_time_ = 0, digits_time_ = 0;
    bool recompute_ = false;
};

}  // namespace Mrv
