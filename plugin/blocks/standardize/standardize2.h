// Standardize2: z-scores of a feature vector against a training set read
// from a text file (and, with Mode on, its significant digits from a
// second file), loaded at Init and again on the Reload trigger.
//
// Choices where the behaviour was left open:
// - A file name that leads to a folder, a FIFO, a device or a socket, or to
//   a file above 256 MiB, counts as a file that cannot be opened, with a
//   second warning saying why; none of them is opened for reading.
// - Reload before Init or after Done does nothing: there is no training
//   set to replace, and the next Init reads the files anyway.
// - The digits file is reloaded only by a block that rounds (Mode on at
//   Init) while Mode is still on; Mode switched on after Init takes
//   effect, with its file, at the next Init.
// - A training set reloaded with a new row count while the digits could
//   not be reloaded keeps the old digits; their column maxima are taken
//   over the rows the digits matrix has.
// - Reloaded files are checked against the columns of Init (those of the
//   feature vector then): the block does not follow shape changes of its
//   input while running.
#pragma once

#include <fstream>
#include <string>

#include "blocks/standardize/standardize_base.h"

namespace Mrv {

class CStandardize2Impl : public CStandardizeBase {
public:
    // The class's record in the catalog.
    static block_class_registrant Registrant();
    explicit CStandardize2Impl(const CreationContext* context);

protected:
    void CheckSignature() override;
    bool OnChangingParameter(const std::string& id, IDatatype* new_value) override;
    void OnChangedParameter(const std::string& id) override;
    bool Init() override;
    bool Execute() override;
    void Done() override;

private:
    struct matrix_file;
    bool ReadFile(const char* parameter_id, bool reloading, matrix_file& file);
    bool OpenForReading(const std::string& name, std::ifstream& stream);
    bool ReadReloadedFile(const char* parameter_id, matrix_file& file);
    template <class Matrix>
    bool Parse(const matrix_file& file, CSmartPtr<Matrix>& parsed);
    template <class Matrix>
    void Reshape(CSmartPtr<Matrix>& matrix, int32 rows, int32 columns);
    template <class Matrix>
    void Replace(CSmartPtr<Matrix>& kept, CSmartPtr<Matrix>& reloaded);
    bool LoadTrainingSet();
    bool LoadDigits();
    void ReloadTrainingSet();
    void ReloadDigits();

    // The block's own matrices, read from the files.
    CSmartPtr<IDoubleMatrix> training_;
    CSmartPtr<IIntMatrix> training_digits_;
    bool first_run_ = false;
    bool reloaded_ = false;
};

}  // namespace Mrv
