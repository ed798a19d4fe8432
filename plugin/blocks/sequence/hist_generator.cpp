#include "blocks/sequence/hist_generator.h"

#include <algorithm>
#include <string>

#include "blocks/sequence/histogram.h"

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
    output("Histogram_0", "OutputHistogram", histogram_description, "double-matrix"),
};

}  // namespace

CHistGenerator::CHistGenerator(const CreationContext* context) : CBlockImplBase(context) {
    AddDrivingInput(inputValue, 1);
}

// host thread, from InitInstance on first declaration.
void CHistGenerator::InitSignature() {
    Declare(signature_table);
    declared_histograms_ = 1;
}

// host thread, from InitInstance when a saved patch is restored; a saved
// declaration that lacks a pin, a histogram output or has a parameter of
// another type raises, and the base declares afresh.
void CHistGenerator::CheckSignature() {
    ParameterValue<IInt>(NumberOfBins);
    const int32 histograms = ParameterValue<IInt>(NumberOfHistograms)->GetValue();
    ParameterValue<IDouble>(MinValue);
    ParameterValue<IDouble>(MaxValue);
    ParameterValue<ITrigger>(GenerateTrigger);
    ParameterValue<IBool>(ResetOnGeneration);
    ParameterValue<IInt>(MaximumDimension);
    ParameterValue<IBool>(Normalize);
    ParameterValue<ITrigger>(Reset);
    declared_histograms_ = histograms;
    for (int32 i = 0; i < histograms; ++i) FindOutput(histogram_id(i));
    FindInput(inputValue);
    FindOutput(OutputBinCenters);
}

// host thread, after a parameter change was applied, in any state.
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
        declared_histograms_ = std::max<int32>(wanted, 0);
        NotifySignatureChanged();
    }
}

// host thread, after InitInstance and the connection of the pins.
bool CHistGenerator::Init() {
    return TraceExceptions(
        [&] {
            BindInput(input_, inputValue);
            // Counts below 0 (only a hand-edited patch brings them) are none.
            const int32 histograms = std::max<int32>(ParameterValue<IInt>(NumberOfHistograms)->GetValue(), 0);
            const int32 bins = std::max<int32>(ParameterValue<IInt>(NumberOfBins)->GetValue(), 0);
            histograms_.assign(static_cast<std::size_t>(histograms), nullptr);
            for (int32 i = 0; i < histograms; ++i) {
                BindOutput(histograms_[static_cast<std::size_t>(i)], histogram_id(i));
                ShapeMatrix(histograms_[static_cast<std::size_t>(i)].get(), 1, bins);
            }
            BindOutput(centres_, OutputBinCenters);
            ShapeMatrix(centres_.get(), 1, bins);
            bins_ = bins;
            rows_.assign(histograms_.size(), nullptr);
            generate_requested_ = false;
            buffer_.restart_times();
            WriteBinCentres();
            return true;
        },
        false);
}

// host thread, between Start and Stop, on a new input or an execution the
// Generate trigger asked for.
bool CHistGenerator::Execute() {
    if (!input_ || !centres_) return true;
    buffer_.take(input_->GetTimeStamp(), input_->GetValue(), ParameterValue<IInt>(MaximumDimension)->GetValue());
    if (generate_requested_ && !buffer_.empty()) Generate();
    return true;
}

// host thread, after Start.
void CHistGenerator::Stop() { buffer_.clear(); }

// host thread, after Stop (or a failed Init).
void CHistGenerator::Done() {
    ReleasePins();
    buffer_.clear();
}

// host thread, at tear-down of the signature.
void CHistGenerator::DoneSignature() { ReleasePins(); }

void CHistGenerator::WriteBinCentres() {
    if (!centres_) return;
    // The shape of Init, whatever the host did to the output since.
    if (centres_->GetHeight() * centres_->GetWidth() != bins_) ShapeMatrix(centres_.get(), 1, bins_);
    sequence::bin_centres(ParameterValue<IDouble>(MinValue)->GetValue(), ParameterValue<IDouble>(MaxValue)->GetValue(),
                          static_cast<std::size_t>(bins_), centres_->GetWritePointer());
}

void CHistGenerator::Generate() {
    const double lo = ParameterValue<IDouble>(MinValue)->GetValue();
    const double hi = ParameterValue<IDouble>(MaxValue)->GetValue();
    const auto bins = static_cast<std::size_t>(bins_);
    for (std::size_t h = 0; h < histograms_.size(); ++h) {
        IDoubleMatrix* histogram = histograms_[h].get();
        if (histogram->GetHeight() * histogram->GetWidth() != bins_) ShapeMatrix(histogram, 1, bins_);
        rows_[h] = histogram->GetWritePointer();
    }
    sequence::count(buffer_.data(), buffer_.size(), lo, hi, bins, rows_.data(), rows_.size());
    if (ParameterValue<IBool>(Normalize)->GetValue())
        for (double* row : rows_) sequence::normalise(row, bins, lo, hi);
    const TimeStamp now = Now();
    centres_->SetTimeStamp(now);
    for (auto& histogram : histograms_) histogram->SetTimeStamp(now);
    if (ParameterValue<IBool>(ResetOnGeneration)->GetValue()) buffer_.clear();
    generate_requested_ = false;
}

void CHistGenerator::ReleasePins() {
    input_ = nullptr;
    histograms_.clear();
    centres_ = nullptr;
    rows_.clear();
}
