// Collects the scalar values of a sequence and, on Generate, turns them
// into NumberOfHistograms histograms over [MinValue, MaxValue]: the buffer
// is cut into that many consecutive segments of about equal length, one
// histogram each, and the bin centres are published beside them.
//
// Choices where the behaviour is otherwise open:
// - Under Normalize, a histogram that counted no value keeps its zeros
//   instead of being divided by 0.
// - A value just below MaxValue whose position rounds up to NumberOfBins
//   goes into the last bin; nothing is written outside the bins.
// - Values that are not numbers are not counted; infinities count in the
//   first or the last bin like any value outside the range.
// - NumberOfBins or NumberOfHistograms below 0 (possible only from a
//   hand-edited saved patch) counts as 0, as a matrix cannot have fewer
//   columns: the outputs have no bins, or there is no histogram.
#pragma once

#include <vector>

#include "blocks/sequence/sequence_buffer.h"
#include "framework/block_base.h"

// An exception in a lifecycle method is reported as a trace.
class CHistGenerator : public Mrv::CBlockImplBase<Mrv::IBlock> {
public:
    // The class's record in the catalog.
    static Mrv::block_class_registrant Registrant();
    explicit CHistGenerator(const Mrv::CreationContext* context);

protected:
    void InitSignature() override;
    void CheckSignature() override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Stop() override;
    void Done() override;

private:
    void WriteBinCentres();
    void Generate();
    void SetDeclaredHistograms(Mrv::int32 count);

    Mrv::input_pin<Mrv::IDouble> input_;
    Mrv::output_pins<Mrv::IDoubleMatrix> histograms_;
    Mrv::output_pin<Mrv::IDoubleMatrix> centres_;
    Mrv::parameter_handle<Mrv::IInt> maximum_dimension_;
    Mrv::parameter_handle<Mrv::IDouble> minimum_, maximum_;
    Mrv::parameter_handle<Mrv::IBool> normalize_, reset_on_generation_;
    Mrv::int32 declared_histograms_ = 1;
    Mrv::int32 bins_ = 0;  // the shape of Init
    bool generate_requested_ = false;
    Mrv::sequence::sequence_buffer buffer_;
    std::vector<double*> rows_;
};
