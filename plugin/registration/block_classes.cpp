// The block classes in registration order: the catalog factory and every
// signature list them in this order. Each class's record stands beside its
// block.
#include "blocks/decision/decision_by_voting.h"
#include "blocks/decision/probabilistic_classifier.h"
#include "blocks/sequence/hist_generator.h"
#include "blocks/sequence/stabilizer.h"
#include "blocks/sequence/sub_sampler.h"
#include "blocks/som/kohonen_map.h"
#include "blocks/standardize/standardize.h"
#include "blocks/standardize/standardize2.h"
#include "blocks/svm/libsvm_save.h"
#include "blocks/svm/svm_predict.h"
#include "blocks/svm/svm_train.h"
#include "blocks/svm/vector_rescaler.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

const static_registrant<block_class_registrant> block_classes[] = {
    CDecisionByVoting::Registrant(),
    CHistGenerator::Registrant(),
    CKohonenMap::Registrant(),
    CProbabilisticClassifier::Registrant(),
    CLibSVMSave::Registrant(),
    CStabilizer::Registrant(),
    CStandardize2Impl::Registrant(),
    CStandardizeImpl::Registrant(),
    CSubSampler::Registrant(),
    CSVMPredict::Registrant(),
    CSVMTrain::Registrant(),
    CVectorRescaler::Registrant(),
};

}  // namespace
}  // namespace Mrv
