// Predicts a value for every row of the input matrix with a libsvm model
// read from a file, and, on request, the class probabilities of each row.
//
// Choices where the block's description leaves them open:
// - A model file that libsvm could not read safely (truncated, edited, not
//   a model, or built on a precomputed kernel, which feature rows cannot
//   feed) is refused like a missing one, with a second report saying why;
//   libsvm's own loader trusts the file and can read out of bounds. So is
//   a name that leads to a folder, a FIFO, a device or a socket (never
//   waited on nor read), and a file above 256 MiB.
// - A refreshed model whose class count differs from the columns Init gave
//   ProbVector stops the probabilities with an error that says so; they
//   come back with the next Init or with a refresh to a matching model.
// - ProbVector is stamped only in ticks that wrote class probabilities;
//   a regression model writes none there.
#pragma once

#include <string>
#include <vector>

#include <libsvm/svm.h>

#include "framework/block_base.h"

namespace Mrv {

// An exception in a lifecycle method or a parameter change is reported as
// a trace.
class CSVMPredict : public CBlockImplBase<IBlock> {
public:
    // The class's record in the catalog.
    static block_class_registrant Registrant();
    explicit CSVMPredict(const CreationContext* context);
    ~CSVMPredict() override;

protected:
    void CheckSignature() override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Done() override;

private:
    // Loads ModelFileName; null after the reports of `method` ("Init" or
    // "OnChangedParameter").
    svm_model* LoadModel(const char* method, const char* cannot_open_message);
    // Probability width of the model, clearing the probability flag with
    // the reports of `method` when it can give none.
    int32 CheckProbabilities(const svm_model* model, const char* method);
    void ReloadModel();
    void ShowProbabilities(bool shown);
    bool WritesProbabilities() const;
    void FreeModel();

    input_pin<IDoubleMatrix> input_;
    output_pin<IDoubleMatrix> output_;
    output_pin<IDoubleMatrix> probabilities_;  // while Probabilities is on
    svm_model* model_ = nullptr;
    std::vector<svm_node> nodes_;
    int32 columns_ = 0, rows_ = 0;
    bool probability_flag_ = false;
    int32 width_ = 1;
};

}  // namespace Mrv
