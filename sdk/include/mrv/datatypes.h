// Datatype objects: the values that travel on pins and sit in parameters.
// They belong to the host; blocks create them through the kernel services
// and use them through these interfaces.
#pragma once

#include "mrv/base.h"

namespace Mrv {

MRV_INTERFACE IDatatype;

// Shape of a datatype (rows and columns, element shape, temporal fields).
// Applying it to a datatype object re-shapes that object.
MRV_INTERFACE IInitInfo : IUnknown {
    MRV_DECLARE_INTERFACE(IInitInfo, IUnknown);
    virtual const char* GetCatalogId() const = 0;
    virtual const char* GetClassId() const = 0;
    virtual bool Equals(const IInitInfo* other) const = 0;
    // Throws ICastException when the target is not of this shape's class.
    virtual void Apply(IDatatype* target) const = 0;
};

MRV_INTERFACE IMatrixInitInfo : IInitInfo {
    MRV_DECLARE_INTERFACE(IMatrixInitInfo, IInitInfo);
    virtual void SetShape(int32 rows, int32 columns) = 0;
    virtual int32 GetRows() const = 0;
    virtual int32 GetColumns() const = 0;
};

MRV_INTERFACE IDoubleMatrixInitInfo : IMatrixInitInfo {
    MRV_DECLARE_INTERFACE(IDoubleMatrixInitInfo, IMatrixInitInfo);
};

MRV_INTERFACE IIntMatrixInitInfo : IMatrixInitInfo {
    MRV_DECLARE_INTERFACE(IIntMatrixInitInfo, IMatrixInitInfo);
};

MRV_INTERFACE ILabelledSetInitInfo : IInitInfo {
    MRV_DECLARE_INTERFACE(ILabelledSetInitInfo, IInitInfo);
    virtual void SetElementType(const char* catalog_id, const char* class_id) = 0;
    virtual void SetElementShape(int32 rows, int32 columns) = 0;
    virtual int32 GetElementRows() const = 0;
    virtual int32 GetElementColumns() const = 0;
};

MRV_INTERFACE ITemporalDataInitInfo : IInitInfo {
    MRV_DECLARE_INTERFACE(ITemporalDataInitInfo, IInitInfo);
    virtual void SetSampleRate(double rate) = 0;
    virtual void SetSampleCount(int32 samples) = 0;
    virtual void SetChannelCount(int32 channels) = 0;
    virtual void SetValueRange(double minimum, double maximum) = 0;
    virtual int32 GetSampleCount() const = 0;
    virtual int32 GetChannelCount() const = 0;
};

MRV_INTERFACE IDatatype : IUnknown {
    MRV_DECLARE_INTERFACE(IDatatype, IUnknown);
    virtual const char* GetCatalogId() const = 0;
    virtual const char* GetClassId() const = 0;
    // Host time of the last update; 0 until first stamped.
    virtual TimeStamp GetTimeStamp() const = 0;
    virtual void SetTimeStamp(TimeStamp time) = 0;
    // Copies value and shape (not the time stamp) from a datatype of the
    // same class; throws ICastException otherwise.
    virtual void CopyFrom(const IDatatype* source) = 0;
    virtual bool Equals(const IDatatype* other) const = 0;
    // A new shape object describing this value (caller owns one reference),
    // or null for datatypes without a shape.
    virtual IInitInfo* CreateInitInfo() const = 0;
};

MRV_INTERFACE IDouble : IDatatype {
    MRV_DECLARE_INTERFACE(IDouble, IDatatype);
    virtual double GetValue() const = 0;
    virtual void SetValue(double value) = 0;
};

MRV_INTERFACE IInt : IDatatype {
    MRV_DECLARE_INTERFACE(IInt, IDatatype);
    virtual int32 GetValue() const = 0;
    virtual void SetValue(int32 value) = 0;
};

MRV_INTERFACE IBool : IDatatype {
    MRV_DECLARE_INTERFACE(IBool, IDatatype);
    virtual bool GetValue() const = 0;
    virtual void SetValue(bool value) = 0;
};

MRV_INTERFACE IString : IDatatype {
    MRV_DECLARE_INTERFACE(IString, IDatatype);
    virtual const char* GetValue() const = 0;
    virtual void SetValue(const char* value) = 0;
};

// A trigger has no value: firing it stamps it.
MRV_INTERFACE ITrigger : IDatatype {
    MRV_DECLARE_INTERFACE(ITrigger, IDatatype);
};

// Row-major matrix: element (r, c) sits at r * width + c.
MRV_INTERFACE IDoubleMatrix : IDatatype {
    MRV_DECLARE_INTERFACE(IDoubleMatrix, IDatatype);
    virtual int32 GetHeight() const = 0;
    virtual int32 GetWidth() const = 0;
    virtual double GetAt(int32 row, int32 column) const = 0;
    virtual void SetAt(int32 row, int32 column, double value) = 0;
    virtual const double* GetReadPointer() const = 0;
    virtual double* GetWritePointer() = 0;
    virtual void Reinit(int32 rows, int32 columns) = 0;
    virtual void SetAll(double value) = 0;
    virtual void DivideAll(double divisor) = 0;
    // Releases the elements; the matrix becomes 0 x 0.
    virtual void Free() = 0;
    // Parses rows of blank-separated numbers ("nan"/"inf" accepted). On
    // failure returns false and leaves the matrix as it was.
    virtual bool ReadFromText(const char* text) = 0;
};

MRV_INTERFACE IIntMatrix : IDatatype {
    MRV_DECLARE_INTERFACE(IIntMatrix, IDatatype);
    virtual int32 GetHeight() const = 0;
    virtual int32 GetWidth() const = 0;
    virtual int32 GetAt(int32 row, int32 column) const = 0;
    virtual void SetAt(int32 row, int32 column, int32 value) = 0;
    virtual const int32* GetReadPointer() const = 0;
    virtual int32* GetWritePointer() = 0;
    virtual void Reinit(int32 rows, int32 columns) = 0;
    virtual void SetAll(int32 value) = 0;
    virtual void Free() = 0;
    virtual bool ReadFromText(const char* text) = 0;
};

// Named copies of double matrices, all of one element shape.
MRV_INTERFACE ILabelledSet : IDatatype {
    MRV_DECLARE_INTERFACE(ILabelledSet, IDatatype);
    virtual void Clear() = 0;
    virtual void Add(const char* name, const IDoubleMatrix* element) = 0;
    virtual void Reinit(int32 element_rows, int32 element_columns) = 0;
    virtual int32 GetCount() const = 0;
    virtual const char* GetName(int32 index) const = 0;
    // Borrowed; throws ICollectionException outside [0, count).
    virtual const IDoubleMatrix* GetItem(int32 index) const = 0;
};

MRV_INTERFACE IPoint2DInt : IDatatype {
    MRV_DECLARE_INTERFACE(IPoint2DInt, IDatatype);
    virtual int32 GetX() const = 0;
    virtual int32 GetY() const = 0;
    virtual void SetX(int32 x) = 0;
    virtual void SetY(int32 y) = 0;
};

// Sampled channels of equal length.
MRV_INTERFACE ITemporalData : IDatatype {
    MRV_DECLARE_INTERFACE(ITemporalData, IDatatype);
    virtual int32 GetSampleCount() const = 0;
    virtual int32 GetChannelCount() const = 0;
    // Direct access to one channel's samples; null outside [0, channels).
    virtual double* GetChannel(int32 channel) = 0;
};

}  // namespace Mrv
