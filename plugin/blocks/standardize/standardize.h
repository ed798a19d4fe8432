// Standardize: z-scores of a feature vector against a training set given
// on a pin, optionally rounded to significant digits given on two more pins.
//
// The statistics are computed at the first execution and again whenever
// the training set input answers the host's data query with true; our
// host answers so once per new training set.
//
// Choice where the behaviour was left open:
// - A feature vector, training set or digits matrix whose shape changed
//   after Init is not read; the block warns once and leaves the output as
//   it was until the shapes are those of Init again.
#pragma once

#include "blocks/standardize/standardize_base.h"

namespace Mrv {

class CStandardizeImpl : public CStandardizeBase {
public:
    // The class's record in the catalog.
    static block_class_registrant Registrant();
    explicit CStandardizeImpl(const CreationContext* context);

protected:
    void CheckSignature() override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;

private:
    input_pin<IDoubleMatrix> training_;
    input_pin<IIntMatrix> training_digits_;  // while Mode is on
    bool recompute_ = false;
};

}  // namespace Mrv
