// The block class table, in registration order: the catalog factory and
// every signature list the classes in this order.
#include "blocks/decision/decision_by_voting.h"
#include "blocks/decision/probabilistic_classifier.h"
#include "blocks/sequence/hist_generator.h"
#include "blocks/sequence/stabilizer.h"
#include "blocks/sequence/sub_sampler.h"
#include "blocks/svm/vector_rescaler.h"
#include "registration/factory.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

const static_registrant<block_class_registrant> block_classes[] = {
    block_class_registrant("DecisionByVoting")
        .language(1033)
        .name("DecisionByVoting")
        .description("This block, given a sequence of values, will create an histogram")
        .catalog_path("MachineLearning.Tools")
        .bitmap(264)
        .author("dornik")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CDecisionByVoting>),
    block_class_registrant("HistGenerator")
        .language(1033)
        .name("HistGenerator")
        .description("This block, given a sequence of values, will create an histogram")
        .catalog_path("MachineLearning.Tools")
        .bitmap(263)
        .author("dornik")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CHistGenerator>),
    block_class_registrant("probabilisticclassifier")
        .language(1033)
        .name("ProbabilisticClassifier")
        .description("Computes the probability of an event referring to a predefined distribution of probability "
                     "(guassian, sigmoid).\n It is used in: N. Ennick, \"Rarity of sensed events as a cue for "
                     "attention\", Sonara Lab Journal of Interactive Systems, vol. 3, pp. 41-58, 2009.")
        .catalog_path("MachineLearning.Tools")
        .bitmap(265)
        .author("ennick")
        .licence("base_licence")
        .company("sonara")
        .factory(create_block<CProbabilisticClassifier>),
    block_class_registrant("Stabilizer")
        .language(1033)
        .name("Stabilizer")
        .description("This block stabilizes the output of a machine learning classifier.")
        .catalog_path("MachineLearning.Tools")
        .bitmap(167)
        .language(1040)
        .name("Stabilizer")
        .description("Questo blocco stabilizza l'output di un classificatore.")
        .catalog_path("MachineLearning.Tools")
        .bitmap(167)
        .author("halvard")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CStabilizer>),
    block_class_registrant("SubSampler")
        .language(1033)
        .name("SubSampler")
        .description("This block, given a sequence of values, will subsample it in N samples equispatially divided")
        .catalog_path("MachineLearning.Tools")
        .bitmap(262)
        .author("dornik")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CSubSampler>),
    block_class_registrant("VectorRescaler")
        .language(1033)
        .name("Vector Rescaler")
        .description("This block rescales the input vector according to the given ranges.")
        .catalog_path("Math.Matrix.Operations")
        .bitmap(165)
        .language(1040)
        .name("Vector Rescaler")
        .description("Questo blocco riscala il vettore in input sulla base dei range forniti.")
        .catalog_path("Math.Matrix.Operations")
        .bitmap(165)
        .author("halvard")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CVectorRescaler>),
};

}  // namespace
}  // namespace Mrv
