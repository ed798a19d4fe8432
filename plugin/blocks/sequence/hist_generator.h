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

class CHistGenerator : public Mrv::CBlockImplBase<Mrv::IBlock> {
public:
    // host thread, from the factory.
    explicit CHistGenerator(const Mrv::CreationContext* context);

protected:
    void InitSignature() override;
    void DoneSignature() override;
    void CheckSignature() override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Stop() override;
    void Done() override;

private:
    void WriteBinCentres();
    void Generate();
    void ReleasePins();

    Mrv::CSmartPtr<Mrv::IDouble> input_;
    std::vector<Mrv::CSmartPtr<Mrv::IDoubleMatrix>> histograms_;
    Mrv::CSmartPtr<Mrv::IDoubleMatrix> centres_;
    Mrv::int32 declared_histograms_ = 1;
    Mrv::int32 bins_ = 0;  // the shape of Init
    bool generate_requested_ = false;
    Mrv::sequence::sequence_buffer buffer_;
    std::vector<double*> rows_;
};
