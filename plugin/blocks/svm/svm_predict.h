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

class CSVMPredict : public CBlockImplBase<IBlock> {
public:
    // host thread, from the factory.
    explicit CSVMPredict(const CreationContext* context);
    ~CSVMPredict() override;

protected:
    void InitSignature() override;
    void DoneSignature() override;
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
    void ReleasePins();

    CSmartPtr<IDoubleMatrix> input_, output_, probabilities_;
    svm_model* model_ = nullptr;
    std::vector<svm_node> nodes_;
    int32 columns_ = 0, rows_ = 0;
    bool probability_flag_ = false;
    int32 width_ = 1;
};

}  // namespace Mrv
