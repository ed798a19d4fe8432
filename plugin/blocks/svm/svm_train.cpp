#include "blocks/svm/svm_train.h"

#include <algorithm>
#include <new>

#include "blocks/svm/sparse.h"
#include "framework/platform/files.h"
#include "framework/platform/local_time.h"
#include "registration/factory.h"
#include "registration/registrant.h"
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

// The block's texts in the library's string table, by id.
const resources::string_entry input_matrix_name{104, "Input Matrix"};
const resources::string_entry input_matrix_description{105, "The input training set"};
const resources::string_entry trained_flag_name{116, "Trained"};
const resources::string_entry trained_flag_description{117, "The block returns a non-zero value if an SVM model has been successfully generated."};
const resources::string_entry ranges_name{158, "Ranges"};
const resources::string_entry ranges_description{159, "Ranges of the training set attributes"};
const resources::string_entry svm_type_name{120, "SVM Type"};
const resources::string_entry svm_type_description{121, "Specify the type of SVM"};
const resources::string_entry kernel_type_name{118, "Kernel Type"};
const resources::string_entry kernel_type_description{119, "Specify the type of the SVM kernel"};
const resources::string_entry degree_name{122, "Degree"};
const resources::string_entry degree_description{123, "Degree of the kernel polynome (for polynomial SVMs only)"};
const resources::string_entry gamma_name{124, "Gamma"};
const resources::string_entry gamma_description{125, "Gamma value for the SVM model"};
const resources::string_entry coeff0_name{126, "Offset"};
const resources::string_entry coeff0_description{127, "Offset value for the SVM model"};
const resources::string_entry epsilon_name{128, "Epsilon"};
const resources::string_entry epsilon_description{129, "Stopping criterium"};
const resources::string_entry cache_size_name{130, "Cache Size"};
const resources::string_entry cache_size_description{131, "Cache size in MB"};
const resources::string_entry c_parameter_name{132, "C"};
const resources::string_entry c_parameter_description{133, "C value for the SVM model"};
const resources::string_entry nu_name{134, "Nu"};
const resources::string_entry nu_description{135, "Nu value for the SVM model"};
const resources::string_entry p_name{136, "p"};
const resources::string_entry p_description{137, "p value for the SVM model"};
const resources::string_entry shrinking_name{138, "Shrinking"};
const resources::string_entry shrinking_description{139, "Use shrinking heuristics"};
const resources::string_entry probability_name{140, "Probability"};
const resources::string_entry probability_description{141, "Do probability estimates "};
const resources::string_entry model_file_name_name{108, "Model File Name"};
const resources::string_entry model_file_name_description{109, "Name of the file containing the model"};
const resources::string_entry train_model_name{110, "Train Model"};
const resources::string_entry train_model_description{111, "Trains the Support Vector Machine"};
const resources::string_entry training_mode_name{150, "Training Mode"};
const resources::string_entry training_mode_description{151, "Select whether to incremenatally update the model or to perform a one-shot training. "};
const resources::string_entry enable_max_size_name{142, "Enable Maximum Size"};
const resources::string_entry enable_max_size_description{143, "If set to true, check for a maximum size of the training set. In case such maximum size is reached, training is forced."};
const resources::string_entry max_size_name{144, "Maximum size of training set"};
const resources::string_entry max_size_description{145, "The maximum allowed size for the training set."};
const resources::string_entry enable_log_name{146, "Enable Logging"};
const resources::string_entry enable_log_description{147, "If set to true, enable writing of a log file containing information on the training"};
const resources::string_entry log_file_name_name{148, "Log File Name"};
const resources::string_entry log_file_name_description{149, "Name of the log file"};
const resources::string_entry scale_values_name{152, "Scale Values"};
const resources::string_entry scale_values_description{153, "If set to true, the block will scale the values in the training set"};
const resources::string_entry lower_bound_name{154, "Lower Bound"};
const resources::string_entry lower_bound_description{155, "Lower bound of the rescaled training set"};
const resources::string_entry upper_bound_name{156, "Upper Bound"};
const resources::string_entry upper_bound_description{160, "Upper bound of the rescaled training set"};

const filename_layout text_file_layout{text_filter, {true, false, false}};

const declaration signature_table[] = {
    input(InputMatrix, input_matrix_name, input_matrix_description, "double-matrix"),
    output(TrainedFlag, trained_flag_name, trained_flag_description, "int"),
    // Declared while ScaleValues is on.
    output(Ranges, ranges_name, ranges_description, "double-matrix").unchecked(),
    parameter(SVMType, svm_type_name, svm_type_description, "int")
        .initial_value(0)
        .domain(int_domain().minimum(0, true).maximum(4, true))
        .layout(combo_layout{{"C-SVC", "Nu-SVC", "One-class SVM", "Epsilon-SVR", "Nu-SVR"}}),
    parameter(KernelType, kernel_type_name, kernel_type_description, "int")
        .initial_value(2)
        .domain(int_domain().minimum(0, true).maximum(3, true))
        .layout(combo_layout{{"Linear", "Polynomial", "Radial Basis Function", "Sigmoid"}}),
    parameter(Degree, degree_name, degree_description, "double").initial_value(3.0).domain(double_domain().minimum(0.0, true)).attribute(1, false),
    parameter(Gamma, gamma_name, gamma_description, "double").initial_value(0.0).domain(double_domain().minimum(0.0, true)),
    parameter(Coeff0, coeff0_name, coeff0_description, "double").initial_value(0.0).attribute(1, false),
    parameter(Epsilon, epsilon_name, epsilon_description, "double").initial_value(0.001).domain(double_domain().minimum(0.0, true)),
    parameter(CacheSize, cache_size_name, cache_size_description, "double").initial_value(40.0).domain(double_domain().minimum(0.0, true)),
    parameter(CParameter, c_parameter_name, c_parameter_description, "double").initial_value(1.0).domain(double_domain().minimum(0.0, true)),
    parameter(Nu, nu_name, nu_description, "double").initial_value(0.5).domain(double_domain().minimum(0.0, true)).attribute(1, false),
    parameter(P, p_name, p_description, "double").initial_value(0.1).domain(double_domain().minimum(0.0, true)).attribute(1, false),
    parameter(Shrinking, shrinking_name, shrinking_description, "bool").initial_value(true),
    parameter(Probability, probability_name, probability_description, "bool").initial_value(false),
    parameter(ModelFileName, model_file_name_name, model_file_name_description, "string").initial_value("MyModel.txt").layout(text_file_layout),
    parameter(TrainModel, train_model_name, train_model_description, "trigger").attribute(2, false).attribute(3, true).attribute(6, true),
    parameter(TrainingMode, training_mode_name, training_mode_description, "int")
        .initial_value(0)
        .domain(int_domain().minimum(0, true).maximum(1, true))
        .layout(combo_layout{{"Incremental", "One shot"}}),
    parameter(EnableMaxSize, enable_max_size_name, enable_max_size_description, "bool").initial_value(true),
    parameter(MaxSize, max_size_name, max_size_description, "int").initial_value(500),
    parameter(EnableLog, enable_log_name, enable_log_description, "bool").initial_value(true).attribute(3, false),
    parameter(LogFileName, log_file_name_name, log_file_name_description, "string").initial_value("MyLogFile.txt").layout(text_file_layout).attribute(3, false),
    parameter(ScaleValues, scale_values_name, scale_values_description, "bool").initial_value(true).attribute(3, false),
    parameter(LowerBound, lower_bound_name, lower_bound_description, "double").initial_value(-1.0).attribute(3, false),
    parameter(UpperBound, upper_bound_name, upper_bound_description, "double").initial_value(1.0).attribute(3, false),
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

block_class_registrant CSVMTrain::Registrant() {
    return block_class_registrant("SVMTrain")
        .language(1033)
        .name("SVM Train")
        .description("This block provides support for training a Support Vector Machine (SVM)")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(103)
        .language(1040)
        .name("SVM Train")
        .description("Questo blocco permette di addestrare una Support Vector Machines (SVM)")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(103)
        .author("halvard")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CSVMTrain>);
}

}  // namespace Mrv
