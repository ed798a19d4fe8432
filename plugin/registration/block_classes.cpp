// The block class table, in registration order: the catalog factory and
// every signature list the classes in this order.
#include "blocks/svm/libsvm_save.h"
#include "blocks/svm/svm_predict.h"
#include "blocks/svm/svm_train.h"
#include "blocks/svm/vector_rescaler.h"
#include "registration/factory.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

const static_registrant<block_class_registrant> block_classes[] = {
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
