#include "blocks/sequence/hist_generator.h"

#include <algorithm>
#include <string>

#include "blocks/sequence/histogram.h"
#include "registration/factory.h"
#include "registration/registrant.h"

using namespace Mrv;

namespace {

const char* const Reset = "Reset";
const char* const ResetOnGeneration = "ResetOnGeneration";
const char* const NumberOfHistograms = "NumberOfHistograms";
const char* const NumberOfBins = "NumberOfBins";
const char* const MinValue = "MinValue";
const char* const MaxValue = "MaxValue";
const char* const GenerateTrigger = "Generate";
const char* const MaximumDimension = "MaximumDimension";
const char* const Normalize = "Normalize";
const char* const inputValue = "inputValue";
const char* const OutputBinCenters = "OutputBinCenters";
const char* const histogram_description = "The generated histogram";

std::string histogram_id(int32 index) { return "Histogram_" + std::to_string(index); }

const declaration signature_table[] = {
    parameter(Reset, "Reset", "Resets the block's buffers", "trigger").attribute(2, false),
    parameter(ResetOnGeneration, "Reset On Generation",
              "Used to tell the block if it has to resets the block's buffers after the generation of an histogram",
              "bool")
        .initial_value(true),
    parameter(NumberOfHistograms, "Number Of Histograms", "The number of histograms that will be generated", "int")
        .initial_value(1)
        .domain(int_domain().minimum(1, true))
        .attribute(3, false),
    parameter(NumberOfBins, "Number Of Bins", "The number of bins of the histogram", "int")
        .initial_value(25)
        .domain(int_domain().minimum(1, true))
        .attribute(3, false),
    parameter(MinValue, "Minumum Value", "The minimum value", "double").initial_value(0.0),
    parameter(MaxValue, "Maximum Value", "The maximum value", "double").initial_value(1.0),
    parameter(GenerateTrigger, "Generate", "Generate the sequence", "trigger").attribute(2, false),
    parameter(MaximumDimension, "Maximum Dimension", "The maximum lenght of the sequence", "int")
        .initial_value(-1)
        .domain(int_domain().minimum(-1, true)),
    parameter(Normalize, "Normalize Histogram", "Whether the block has to normalize the histogram or not", "bool")
        .initial_value(false),
    input(inputValue, "inputValue", "the input sequence", "double"),
    output(OutputBinCenters, "OutputBinsCenters", "The centers of the histogram's bins", "double-matrix")
        .output_value(1),
    // Looked up by the saved count of histograms.
    output("Histogram_0", "OutputHistogram", histogram_description, "double-matrix").unchecked(),
};

}  // namespace

CHistGenerator::CHistGenerator(const CreationContext* context)
    : CBlockImplBase(context, exception_policy::trace()),
      input_(this, inputValue),
      histograms_(this),
      centres_(this, OutputBinCenters),
      maximum_dimension_(this, MaximumDimension),
      minimum_(this, MinValue),
      maximum_(this, MaxValue),
      normalize_(this, Normalize),
      reset_on_generation_(this, ResetOnGeneration) {
    UseTable(signature_table);
    AddDrivingInput(inputValue, 1);
}

void CHistGenerator::InitSignature() {
    CBlockImplBase::InitSignature();
    SetDeclaredHistograms(1);
}

// A restored instance has as many histogram outputs as its saved count.
void CHistGenerator::CheckSignature() {
    SetDeclaredHistograms(ParameterValue<IInt>(NumberOfHistograms)->GetValue());
    for (const std::string& id : histograms_.ids()) FindOutput(id);
}

void CHistGenerator::SetDeclaredHistograms(int32 count) {
    declared_histograms_ = std::max<int32>(count, 0);
    std::vector<std::string> ids;
    for (int32 i = 0; i < declared_histograms_; ++i) ids.push_back(histogram_id(i));
    histograms_.set_ids(std::move(ids));
}

void CHistGenerator::OnChangedParameter(const std::string& id) {
    if (id == Reset) {
        buffer_.clear();
    } else if (id == GenerateTrigger) {
        generate_requested_ = true;
        RequestExecution();
    } else if (id == MinValue || id == MaxValue) {
        if (IsRunning()) WriteBinCentres();
    } else if (id == NumberOfHistograms) {
        const int32 wanted = ParameterValue<IInt>(NumberOfHistograms)->GetValue();
        for (int32 i = declared_histograms_ - 1; i >= wanted && i >= 0; --i) RemoveOutput(histogram_id(i));
        for (int32 i = declared_histograms_; i < wanted; ++i) {
            const std::string id_text = histogram_id(i);
            Declare(output(id_text.c_str(), id_text.c_str(), histogram_description, "double-matrix"));
        }
        SetDeclaredHistograms(wanted);
        NotifySignatureChanged();
    }
}

// The histogram outputs bound are the declared ones; counts below 0 (only a
// hand-edited patch brings them) are none.
bool CHistGenerator::Init() {
    const int32 bins = std::max<int32>(ParameterValue<IInt>(NumberOfBins)->GetValue(), 0);
    for (const auto& histogram : histograms_) ShapeMatrix(histogram.get(), 1, bins);
    ShapeMatrix(centres_.get(), 1, bins);
    bins_ = bins;
    rows_.assign(histograms_.size(), nullptr);
    generate_requested_ = false;
    buffer_.restart_times();
    WriteBinCentres();
    return true;
}

// On a new input, or an execution the Generate trigger asked for.
bool CHistGenerator::Execute() {
    if (!input_) return true;
    buffer_.take(input_->GetTimeStamp(), input_->GetValue(), maximum_dimension_->GetValue());
    if (generate_requested_ && !buffer_.empty()) Generate();
    return true;
}

void CHistGenerator::Stop() { buffer_.clear(); }

void CHistGenerator::Done() {
    rows_.clear();
    buffer_.clear();
}

void CHistGenerator::WriteBinCentres() {
    if (!centres_) return;
    // The shape of Init, whatever the host did to the output since.
    if (centres_->GetHeight() * centres_->GetWidth() != bins_) ShapeMatrix(centres_.get(), 1, bins_);
    sequence::bin_centres(minimum_->GetValue(), maximum_->GetValue(),
                          static_cast<std::size_t>(bins_), centres_->GetWritePointer());
}

void CHistGenerator::Generate() {
    const double lo = minimum_->GetValue();
    const double hi = maximum_->GetValue();
    const auto bins = static_cast<std::size_t>(bins_);
    for (std::size_t h = 0; h < histograms_.size(); ++h) {
        IDoubleMatrix* histogram = histograms_[h];
        if (histogram->GetHeight() * histogram->GetWidth() != bins_) ShapeMatrix(histogram, 1, bins_);
        rows_[h] = histogram->GetWritePointer();
    }
    sequence::count(buffer_.data(), buffer_.size(), lo, hi, bins, rows_.data(), rows_.size());
    if (normalize_->GetValue())
        for (double* row : rows_) sequence::normalise(row, bins, lo, hi);
    const TimeStamp now = Now();
    centres_->SetTimeStamp(now);
    for (auto& histogram : histograms_) histogram->SetTimeStamp(now);
    if (reset_on_generation_->GetValue()) buffer_.clear();
    generate_requested_ = false;
}

Mrv::block_class_registrant CHistGenerator::Registrant() {
    return block_class_registrant("HistGenerator")
        .language(1033)
        .name("HistGenerator")
        .description("This block, given a sequence of values, will create an histogram")
        .catalog_path("MachineLearning.Tools")
        .bitmap(263)
        .author("dornik")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CHistGenerator>);
}
