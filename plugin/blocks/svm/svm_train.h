// Collects labelled rows from its input matrix (column 0 the label, column
// j attribute j) and trains a support vector machine with libsvm on its
// own worker thread, on request or when the set reaches MaxSize; the model
// is saved as a libsvm model file and TrainedFlag reads 1 for the one tick
// after each successful run.
//
// Choices of this block:
// - An attribute whose minimum equals its maximum trains with the middle of
//   [LowerBound, UpperBound], as VectorRescaler maps such an attribute, so a
//   model and a rescaled feature agree.
// - The ranges follow every row even while ScaleValues is off, so switching
//   scaling on while running scales with the ranges of the whole set.
// - A run uses the parameters as they were when it was requested.
// - The model file is written beside ModelFileName and renamed over it only
//   when complete: a failed save leaves the old model readable.
// - A run's reports are sent from the host's thread by the next Execute
//   (the block asks the host for one), never from the worker thread.
// - NaN and infinite values are trained as they are, and the parameters go
//   to svm_train without libsvm's own check (C, Epsilon or CacheSize 0
//   train, so does a one-class SVM with Probability on). Refused, with an
//   error, is only what would make libsvm write out of bounds: Nu above 1
//   for a one-class SVM, whose start vector libsvm sizes as Nu x samples.
//   Nothing else keeps libsvm from returning: its solver stops at its
//   iteration limit.
// - An empty training set is not trained (libsvm would make a model with
//   no classes and the save would replace a good model): a warning says
//   so and the model file keeps the last model. A second one-shot run
//   queued behind a successful one meets exactly this.
// - ModelFileName and LogFileName that name a device, a FIFO, a socket or
//   a folder fail Init with the reason; neither is ever opened or replaced.
// - A run that ends while training runs are still queued (Done abandons
//   them, as it must not wait) warns, naming the block, how many were
//   dropped and the model file they would have written.
// - Degree is rounded to the integer degree libsvm takes.
// - TrainModel pressed outside Init..Done has no rows to train and is ignored.
// - The rows of an input are taken once, however often the block executes;
//   while runs are queued or running the block asks the host for
//   executions, so a patch does not end before they have reported.
// - Done stops the worker before closing the log, so a run in progress
//   finishes writing to it; queued runs are abandoned.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "blocks/svm/svm_training.h"
#include "framework/block_base.h"

namespace ksl {
class worker_thread;
}

namespace Mrv {

// An exception in a lifecycle method or a parameter change is reported as
// a trace.
class CSVMTrain : public CBlockImplBase<IBlock> {
public:
    // The class's record in the catalog.
    static block_class_registrant Registrant();
    explicit CSVMTrain(const CreationContext* context);
    // A block released without Done still joins its worker.
    ~CSVMTrain() override;

protected:
    void InitSignature() override;
    void CheckSignature() override;
    bool OnChangingParameter(const std::string& id, IDatatype* new_value) override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Done() override;

private:
    struct run_request {
        svm_training::run_settings settings;
        bool one_shot;
    };
    void DeriveCodes();
    void RequestTraining();
    void TrainingRun(const run_request& request);
    void ScaleValuesChanged();
    void ReportPending();
    void StopWorker();

    input_pin<IDoubleMatrix> input_;
    output_pin<IInt> trained_;
    output_pin<IDoubleMatrix> ranges_;  // while ScaleValues is on
    parameter_handle<IBool> scale_values_, enable_max_size_;
    parameter_handle<IInt> max_size_;
    int32 columns_ = 0, rows_ = 0;
    int svm_type_ = 0, kernel_type_ = 0;
    // The input's time stamp when its rows were last taken.
    TimeStamp rows_time_ = 0;

    // The training state, shared with the worker thread: mutex_ guards every
    // member from here to worker_ (the set, the ready flag, the count of
    // runs, the log and the pending reports); run_ended_ is waited on
    // under it. Everything above is the host thread's alone.
    boost::mutex mutex_;
    svm_training::training_set set_;
    bool model_ready_ = false;
    // Runs queued or running; run_ended_ is signalled as each one ends.
    int outstanding_runs_ = 0;
    boost::condition_variable run_ended_;
    std::FILE* log_ = nullptr;
    std::vector<std::pair<int32, std::string>> pending_reports_;

    std::unique_ptr<ksl::worker_thread> worker_;
};

}  // namespace Mrv
