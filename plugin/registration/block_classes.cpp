// The block class table, in registration order: the catalog factory and
// every signature list the classes in this order.
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
#include "registration/factory.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

// Standardize and Standardize2 share every text; the class id tells them apart.
block_class_registrant standardize_class(const char* class_id, block_factory factory) {
    return block_class_registrant(class_id)
        .language(1033)
        .name("Standardize")
        .description("This block standardizes the input feature vector.It computes mean and standard deviation of each "
                     "attribute in the provided training setand processes each item of the input feature vector by "
                     "subtracting the corresponding computed meanand by dividing by the corresponding computed "
                     "standard deviation.")
        .catalog_path("MachineLearning.Tools")
        .bitmap(260)
        .author("halvard")
        .licence("base_licence")
        .company("sonara")
        .factory(std::move(factory));
}

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
    block_class_registrant("kohonenmap")
        .language(1033)
        .name("KohonenMap")
        .description("This block trains a Kohonen Map (SOM, Self Organizing Map) and, given an input vector provides "
                     "both the map and the input classification as output.")
        .catalog_path("MachineLearning.KohonenMaps")
        .bitmap(261)
        .author("ennick")
        .licence("base_licence")
        .company("sonara")
        .factory(create_block<CKohonenMap>),
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
    block_class_registrant("LibSVMSave")
        .language(1033)
        .name("LibSVM Save")
        .description("This block allows saving a matrix in the format required by the libsvm tools")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(166)
        .language(1040)
        .name("LibSVM Save")
        .description("Questo blocco permette di salvare una matrice nel formato richiesto dai tool di libsvm")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(166)
        .author("halvard")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CLibSVMSave>),
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
    standardize_class("Standardize2", create_block<CStandardize2Impl>),
    standardize_class("Standardize", create_block<CStandardizeImpl>),
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
    block_class_registrant("SVM")
        .language(1033)
        .name("SVM Predict")
        .description("This block provides support for performing prediction using Support Vector Machines (SVMs)")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(164)
        .language(1040)
        .name("SVM Predict")
        .description("Questo blocco opera classificazioni e predizioni usando una Support Vector Machine (SVM)")
        .catalog_path("MachineLearning.SupportVectorMachines")
        .bitmap(164)
        .author("halvard")
        .licence("FreeLicense")
        .company("Sonara")
        .factory(create_block<CSVMPredict>),
    block_class_registrant("SVMTrain")
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
        .factory(create_block<CSVMTrain>),
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
