#include "framework/shapes.h"

#include "framework/smart_ptr.h"

namespace Mrv {
namespace shapes {
namespace {

template <class Configure>
void apply(IKernelServices* kernel, const char* catalog_id, const char* class_id, IDatatype* target,
           Configure&& configure) {
    auto shape = CSmartPtr<IInitInfo>::adopt(kernel->CreateInitInfo(catalog_id, class_id));
    configure(shape.get());
    shape->Apply(target);
}

}  // namespace

void matrix(IKernelServices* kernel, IDatatype* target, int32 rows, int32 columns) {
    apply(kernel, "kernel", "double-matrix", target,
          [&](IInitInfo* shape) { CSmartPtr<IMatrixInitInfo>(shape)->SetShape(rows, columns); });
}

void int_matrix(IKernelServices* kernel, IDatatype* target, int32 rows, int32 columns) {
    apply(kernel, "kernel", "int-matrix", target,
          [&](IInitInfo* shape) { CSmartPtr<IMatrixInitInfo>(shape)->SetShape(rows, columns); });
}

void labelled_set(IKernelServices* kernel, IDatatype* target, int32 element_rows, int32 element_columns) {
    apply(kernel, "kernel", "labeled_set", target, [&](IInitInfo* shape) {
        CSmartPtr<ILabelledSetInitInfo> set(shape);
        set->SetElementType("kernel", "double-matrix");
        set->SetElementShape(element_rows, element_columns);
    });
}

void temporal_data(IKernelServices* kernel, IDatatype* target, int32 samples, int32 channels, double sample_rate,
                   double minimum, double maximum) {
    apply(kernel, "base", "temporal_data", target, [&](IInitInfo* shape) {
        CSmartPtr<ITemporalDataInitInfo> temporal(shape);
        temporal->SetSampleCount(samples);
        temporal->SetChannelCount(channels);
        temporal->SetSampleRate(sample_rate);
        temporal->SetValueRange(minimum, maximum);
    });
}

}  // namespace shapes
}  // namespace Mrv
