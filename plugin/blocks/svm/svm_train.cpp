#include "blocks/svm/svm_train.h"

#include <algorithm>
#include <new>

#include "blocks/svm/sparse.h"
#include "framework/platform/files.h"
#include "framework/platform/local_time.h"
#include "support/worker_thread.h"

namespace Mrv {
namespace {

const char* const InputMatrix = "InputMatrix";
const char* const TrainedFlag = "TrainedFlag";
const char* const Ranges = "Ranges";
const char* const SVMType = "SVMType";
const char* const KernelType = "KernelType";
const char* const Degree = "Degree";
const char* const Gamma = "Gamma";
const char* const Coeff0 = "Coeff0";
const char* const Epsilon = "Epsilon";
const char* const CacheSize = "CacheSize";
const char* const CParameter = "C";
const char* const Nu = "Nu";
const char* const P = "p";
const char* const Shrinking = "Shrinking";
const char* const Probability = "Probability";
const char* const ModelFileName = "ModelFileName";
const char* const TrainModel = "TrainModel";
const char* const TrainingMode = "TrainingMode";
const char* const EnableMaxSize = "EnableMaxSize";
const char* const MaxSize = "MaxSize";
const char* const EnableLog = "EnableLog";
const char* const LogFileName = "LogFileName";
const char* const ScaleValues = "ScaleValues";
const char* const LowerBound = "LowerBound";
const char* const UpperBound = "UpperBound";

const char* const thread_name = "SVM Train";
const char* const text_filter = "Text files (*.txt)|*.txt|All files (*.*)|*.*||";
// Rows reserved at Init when no maximum size applies, and at most otherwise.
const std::size_t default_reserve = 500, largest_reserve = 1 << 16;
// How long an Execute waits for a run that has not reported yet.
const boost::chrono::milliseconds run_wait(20);

const char* const lower_above_upper_message =
    "CSVMTrain::OnChangingParameter -- The lower bound is greater than the upper bound. The old values will be kept.\n";
const char* const upper_below_lower_message =
    "CSVMTrain::OnChangingParameter -- The upper bound is lower than the lower bound. The old values will be kept.\n";
const char* const log_file_message =
    "CSVMTrain::Init -- Could not open the specified log file. Please check if the path is correct.\n";
// A device, a FIFO, a socket or a folder where a file is to be written: the
// log follows the message above with this, the model file fails Init alone.
const char* const not_regular_message = "CSVMTrain::Init -- %s cannot be written: %s.\n";
// A label column alone trains (every sample empty); without it there is nothing to learn from.
const char* const too_few_columns_message = "CSVMTrain::Init -- The input matrix needs a label column; it has %d columns.\n";
const char* const allocation_message = "CSVMTrain::Execute -- Cannot allocate memory for input data.\n";
const char* const shape_changed_message =
    "CSVMTrain::Execute -- The input shape changed after Init; the rows of this tick are not added.\n";
const char* const train_failed_message = "CSVMTrain::Execute -- Error in training the SVM.\n";
const char* const save_failed_message = "CSVMTrain::Execute -- Error in saving the SVM model.\n";
const char* const save_failed_detail = "CSVMTrain::Execute -- The model file %s could not be written.\n";
// A warning: the model file keeps the last model (a one-shot run empties
// the set, so a second run queued behind it finds nothing).
const char* const empty_set_message =
    "CSVMTrain::Execute -- The training set is empty; the SVM is not trained and the model file is left as it "
    "was.\n";
const char* const bad_parameters_message = "CSVMTrain::Execute -- The parameters cannot be trained with: %s.\n";
const char* const dropped_runs_message =
    "CSVMTrain::Done -- Block %s: the run ended with %d training run(s) still queued; they were dropped, so %s "
    "holds no model of the last samples.\n";
const char* const log_header_format = "Training started on %d-%d-%d, %d:%d:%d. \n";

const filename_layout text_file_layout{text_filter, {true, false, false}};

const declaration signature_table[] = {
    input(InputMatrix, 104, 105, "double-matrix"),
    output(TrainedFlag, 116, 117, "int"),
    // Declared while ScaleValues is on.
    output(Ranges, 158, 159, "double-matrix").unchecked(),
    parameter(SVMType, 120, 121, "int")
        .initial_value(0)
        .domain(int_domain().minimum(0, true).maximum(4, true))
        .layout(combo_layout{{"C-SVC", "Nu-SVC", "One-class SVM", "Epsilon-SVR", "Nu-SVR"}}),
    parameter(KernelType, 118, 119, "int")
        .initial_value(2)
        .domain(int_domain().minimum(0, true).maximum(3, true))
        .layout(combo_layout{{"Linear", "Polynomial", "Radial Basis Function", "Sigmoid"}}),
    parameter(Degree, 122, 123, "double").initial_value(3.0).domain(double_domain().minimum(0.0, true)).attribute(1, false),
    parameter(Gamma, 124, 125, "double").initial_value(0.0).domain(double_domain().minimum(0.0, true)),
    parameter(Coeff0, 126, 127, "double").initial_value(0.0).attribute(1, false),
    parameter(Epsilon, 128, 129, "double").initial_value(0.001).domain(double_domain().minimum(0.0, true)),
    parameter(CacheSize, 130, 131, "double").initial_value(40.0).domain(double_domain().minimum(0.0, true)),
    parameter(CParameter, 132, 133, "double").initial_value(1.0).domain(double_domain().minimum(0.0, true)),
    parameter(Nu, 134, 135, "double").initial_value(0.5).domain(double_domain().minimum(0.0, true)).attribute(1, false),
    parameter(P, 136, 137, "double").initial_value(0.1).domain(double_domain().minimum(0.0, true)).attribute(1, false),
    parameter(Shrinking, 138, 139, "bool").initial_value(true),
    parameter(Probability, 140, 141, "bool").initial_value(false),
    parameter(ModelFileName, 108, 109, "string").initial_value("MyModel.txt").layout(text_file_layout),
    parameter(TrainModel, 110, 111, "trigger").attribute(2, false).attribute(3, true).attribute(6, true),
    parameter(TrainingMode, 150, 151, "int")
        .initial_value(0)
        .domain(int_domain().minimum(0, true).maximum(1, true))
        .layout(combo_layout{{"Incremental", "One shot"}}),
    parameter(EnableMaxSize, 142, 143, "bool").initial_value(true),
    parameter(MaxSize, 144, 145, "int").initial_value(500),
    parameter(EnableLog, 146, 147, "bool").initial_value(true).attribute(3, false),
    parameter(LogFileName, 148, 149, "string").initial_value("MyLogFile.txt").layout(text_file_layout).attribute(3, false),
    parameter(ScaleValues, 152, 153, "bool").initial_value(true).attribute(3, false),
    parameter(LowerBound, 154, 155, "double").initial_value(-1.0).attribute(3, false),
    parameter(UpperBound, 156, 160, "double").initial_value(1.0).attribute(3, false),
};
const declaration& trained_flag_row = signature_table[1];
const declaration& ranges_row = signature_table[2];

}  // namespace

CSVMTrain::CSVMTrain(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::trace()),
      input_(this, InputMatrix),
      trained_(this, TrainedFlag),
      ranges_(this, Ranges, true),
      scale_values_(this, ScaleValues),
      enable_max_size_(this, EnableMaxSize),
      max_size_(this, MaxSize) {
    UseTable(signature_table);
    AddDrivingInput(InputMatrix, 1);
}

CSVMTrain::~CSVMTrain() {
    StopWorker();
    if (log_ != nullptr) {
        sparse::stop_routing_to(log_);
        std::fclose(log_);
    }
}

void CSVMTrain::InitSignature() {
    CBlockImplBase::InitSignature();
    DeriveCodes();
}

void CSVMTrain::CheckSignature() { DeriveCodes(); }

void CSVMTrain::DeriveCodes() {
    svm_type_ = svm_training::svm_type_code(ParameterValue<IInt>(SVMType)->GetValue());
    kernel_type_ = svm_training::kernel_type_code(ParameterValue<IInt>(KernelType)->GetValue());
}

// Keeps the bounds ordered.
bool CSVMTrain::OnChangingParameter(const std::string& id, IDatatype* new_value) {
    return BoundsStayOrdered(id, new_value, LowerBound, UpperBound, lower_above_upper_message,
                             upper_below_lower_message);
}

void CSVMTrain::OnChangedParameter(const std::string& id) {
    if (id == TrainModel) {
        RequestTraining();
    } else if (id == SVMType) {
        DeriveCodes();
        const int type = ParameterValue<IInt>(SVMType)->GetValue();
        SetParameterVisible(CParameter, type == 0 || type == 3 || type == 4);
        SetParameterVisible(Nu, type == 1 || type == 2 || type == 4);
        SetParameterVisible(P, type == 3);
    } else if (id == KernelType) {
        DeriveCodes();
        const int kernel = ParameterValue<IInt>(KernelType)->GetValue();
        SetParameterVisible(Degree, kernel == 1);
        SetParameterVisible(Gamma, kernel == 1 || kernel == 2 || kernel == 3);
        SetParameterVisible(Coeff0, kernel == 1 || kernel == 3);
    } else if (id == EnableMaxSize) {
        SetParameterVisible(MaxSize, enable_max_size_->GetValue());
    } else if (id == EnableLog) {
        SetParameterVisible(LogFileName, ParameterValue<IBool>(EnableLog)->GetValue());
    } else if (id == ScaleValues) {
        ScaleValuesChanged();
    }
}

// Ranges exists exactly while scaling is on, declared after TrainedFlag.
void CSVMTrain::ScaleValuesChanged() {
    const bool scale = scale_values_->GetValue();
    SetParameterVisible(LowerBound, scale);
    SetParameterVisible(UpperBound, scale);
    if (scale == HasOutput(Ranges)) return;
    if (scale) {
        RemoveOutput(TrainedFlag);
        Declare(trained_flag_row);
        Declare(ranges_row);
    } else {
        RemoveOutput(Ranges);
    }
    NotifySignatureChanged();
    // Between Init and Done the outputs the block writes are the new ones.
    if (input_) {
        trained_.bind();
        ranges_.release();
        if (scale) {
            ranges_.bind();
            ShapeMatrix(ranges_.get(), columns_ - 1, 2);
        }
    }
}

bool CSVMTrain::Init() {
    columns_ = input_->GetWidth();
    rows_ = input_->GetHeight();
    if (columns_ < 1) {
        NotifyError(too_few_columns_message, columns_);
        return false;
    }
    if (scale_values_->GetValue()) {
        // A restored signature that scales without its Ranges output fails here.
        if (!ranges_) FindOutput(Ranges);
        ShapeMatrix(ranges_.get(), columns_ - 1, 2);
    }
    boost::lock_guard<boost::mutex> lock(mutex_);
    model_ready_ = false;
    outstanding_runs_ = 0;
    rows_time_ = 0;
    set_ = svm_training::training_set(columns_);
    const int32 max_size = max_size_->GetValue();
    set_.reserve(enable_max_size_->GetValue() && max_size > 0
                     ? std::min<std::size_t>(static_cast<std::size_t>(max_size), largest_reserve)
                     : default_reserve);
    if (log_ != nullptr) {
        sparse::stop_routing_to(log_);
        std::fclose(log_);
        log_ = nullptr;
    }
    const std::string model_file = ParameterValue<IString>(ModelFileName)->GetValue();
    if (const std::string reason = platform::why_not_writable(model_file); !reason.empty()) {
        NotifyError(not_regular_message, model_file.c_str(), reason.c_str());
        return false;
    }
    if (ParameterValue<IBool>(EnableLog)->GetValue()) {
        const std::string log_file = ParameterValue<IString>(LogFileName)->GetValue();
        std::string reason;
        log_ = platform::open_for_writing(log_file, false, &reason);
        if (log_ == nullptr) {
            NotifyError("%s", log_file_message);
            if (!reason.empty()) NotifyError(not_regular_message, log_file.c_str(), reason.c_str());
            return false;
        }
    }
    // libsvm's text goes to the log of the block initialised last, or nowhere.
    sparse::route_output_to(log_);
    return true;
}

// On new input rows, and when a run asked the host for an execution.
bool CSVMTrain::Execute() {
    if (!input_ || !trained_) return true;
    bool request = false;
    std::vector<std::pair<int32, std::string>> reports;
    {
        boost::unique_lock<boost::mutex> lock(mutex_);
        // A run was asked for and has not reported: give it a moment
        // rather than have the host spin through empty ticks.
        if (outstanding_runs_ > 0 && !model_ready_) run_ended_.wait_for(lock, run_wait);
        reports.swap(pending_reports_);
        for (const auto& [level, text] : reports) Notify(level, text);
        const bool ready = model_ready_;
        trained_->SetValue(ready ? 1 : 0);
        trained_->SetTimeStamp(Now());
        // Rows are taken once: an execution the block asked for
        // sees the same input again.
        const TimeStamp stamp = input_->GetTimeStamp();
        const bool new_rows = stamp > rows_time_;
        rows_time_ = std::max(rows_time_, stamp);
        if (!ready && new_rows) {
            if (input_->GetWidth() != columns_ || input_->GetHeight() != rows_) {
                NotifyWarning("%s", shape_changed_message);
            } else {
                const double* rows = input_->GetReadPointer();
                for (int32 r = 0; r < rows_; ++r) {
                    try {
                        set_.add_row(rows + static_cast<std::size_t>(r) * columns_);
                    } catch (const std::bad_alloc&) {
                        NotifyError("%s", allocation_message);
                    }
                }
            }
        } else if (ready) {
            model_ready_ = false;
            if (ranges_ && scale_values_->GetValue()) {
                double* out = ranges_->GetWritePointer();
                for (int32 i = 0; i < columns_ - 1; ++i) {
                    out[2 * i] = set_.minimum()[i];
                    out[2 * i + 1] = set_.maximum()[i];
                }
                ranges_->SetTimeStamp(Now());
            }
        }
        // The host keeps running the block until every run it asked
        // for has ended and reported.
        if (outstanding_runs_ > 0) RequestExecution();
        // Only new input asks for a run: in incremental mode a run's
        // own execution would otherwise start the next one forever.
        request = new_rows && enable_max_size_->GetValue() &&
                  set_.size() >= static_cast<std::size_t>(static_cast<uint32>(max_size_->GetValue()));
    }
    if (request) RequestTraining();
    return true;
}

// Queues a run with the parameters as they are now.
void CSVMTrain::RequestTraining() {
    if (!input_) return;
    run_request request;
    svm_training::run_settings& s = request.settings;
    s.svm_type = svm_type_;
    s.kernel_type = kernel_type_;
    s.degree = ParameterValue<IDouble>(Degree)->GetValue();
    s.gamma = ParameterValue<IDouble>(Gamma)->GetValue();
    s.coef0 = ParameterValue<IDouble>(Coeff0)->GetValue();
    s.cache_size = ParameterValue<IDouble>(CacheSize)->GetValue();
    s.eps = ParameterValue<IDouble>(Epsilon)->GetValue();
    s.C = ParameterValue<IDouble>(CParameter)->GetValue();
    s.nu = ParameterValue<IDouble>(Nu)->GetValue();
    s.p = ParameterValue<IDouble>(P)->GetValue();
    s.shrinking = ParameterValue<IBool>(Shrinking)->GetValue();
    s.probability = ParameterValue<IBool>(Probability)->GetValue();
    s.scale = scale_values_->GetValue();
    s.lower_bound = ParameterValue<IDouble>(LowerBound)->GetValue();
    s.upper_bound = ParameterValue<IDouble>(UpperBound)->GetValue();
    s.model_file = ParameterValue<IString>(ModelFileName)->GetValue();
    request.one_shot = ParameterValue<IInt>(TrainingMode)->GetValue() == 1;
    if (!worker_) worker_ = std::make_unique<ksl::worker_thread>(thread_name);
    {
        boost::lock_guard<boost::mutex> lock(mutex_);
        ++outstanding_runs_;
    }
    worker_->execute([this, request] { TrainingRun(request); });
    RequestExecution();
}

// worker thread, one run at a time, between the request and Done.
void CSVMTrain::TrainingRun(const run_request& request) {
    boost::lock_guard<boost::mutex> lock(mutex_);
    if (log_ != nullptr) {
        const platform::local_time t = platform::now_local();
        std::fprintf(log_, log_header_format, t.year, t.month, t.day, t.hour, t.minute, t.second);
    }
    const svm_training::run_report report = set_.train_and_save(request.settings);
    if (log_ != nullptr) std::fflush(log_);
    auto report_error = [&](const std::string& text) { pending_reports_.emplace_back(LevelError, text); };
    char line[512];
    switch (report.result) {
        case svm_training::outcome::trained:
            model_ready_ = true;
            if (request.one_shot) set_.clear();
            break;
        case svm_training::outcome::empty:
            pending_reports_.emplace_back(LevelWarning, empty_set_message);
            break;
        case svm_training::outcome::bad_parameters:
            report_error(train_failed_message);
            std::snprintf(line, sizeof line, bad_parameters_message, report.detail.c_str());
            report_error(line);
            break;
        case svm_training::outcome::train_failed:
            report_error(train_failed_message);
            break;
        case svm_training::outcome::save_failed:
            report_error(save_failed_message);
            std::snprintf(line, sizeof line, save_failed_detail, request.settings.model_file.c_str());
            report_error(line);
            break;
    }
    --outstanding_runs_;
    run_ended_.notify_all();
    RequestExecution();
}

// What the runs reported since the last call.
void CSVMTrain::ReportPending() {
    std::vector<std::pair<int32, std::string>> reports;
    {
        boost::lock_guard<boost::mutex> lock(mutex_);
        reports.swap(pending_reports_);
    }
    for (const auto& [level, text] : reports) Notify(level, text);
}

void CSVMTrain::StopWorker() {
    if (!worker_) return;
    worker_->stop();
    worker_.reset();
}

// The run in progress finishes, queued runs are abandoned.
void CSVMTrain::Done() {
    StopWorker();
    ReportPending();
    {
        boost::lock_guard<boost::mutex> lock(mutex_);
        // Each run counts itself out as it ends: what is left never ran.
        if (outstanding_runs_ > 0)
            NotifyWarning(dropped_runs_message, InstanceName().c_str(), outstanding_runs_,
                          ParameterValue<IString>(ModelFileName)->GetValue());
        outstanding_runs_ = 0;
        set_ = svm_training::training_set();
        model_ready_ = false;
        if (log_ != nullptr) {
            sparse::stop_routing_to(log_);
            std::fclose(log_);
            log_ = nullptr;
        }
    }
}

}  // namespace Mrv
