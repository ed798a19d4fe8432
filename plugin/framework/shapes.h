// Shaping a datatype object (an output, a parameter value, a buffer)
// through an initialisation-information object of its class.
#pragma once

#include "mrv/kernel.h"

namespace Mrv {
namespace shapes {

void matrix(IKernelServices* kernel, IDatatype* target, int32 rows, int32 columns);
void int_matrix(IKernelServices* kernel, IDatatype* target, int32 rows, int32 columns);
// A labelled set whose elements are rows x columns double matrices.
void labelled_set(IKernelServices* kernel, IDatatype* target, int32 element_rows, int32 element_columns);
void temporal_data(IKernelServices* kernel, IDatatype* target, int32 samples, int32 channels, double sample_rate,
                   double minimum, double maximum);

}  // namespace shapes
}  // namespace Mrv
