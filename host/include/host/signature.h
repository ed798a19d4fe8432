// The per-block host objects: pins, parameters, the signature that holds
// them, the layout object and the status object.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/datatypes.h"
#include "host/editing.h"
#include "host/wakeup.h"
#include "mrv/signature.h"

namespace mrvhost {

// A stamp no other change in the process carries: collections and status
// objects take a new one at creation and at every change, so that a cache
// keyed by it stays valid even when an object is replaced by a new one at
// the same address.
std::uint64_t next_change_stamp();

class Pin final : public Object<Mrv::IPin> {
public:
    enum class Kind { input, output };
    static Ref<Pin> create_input(const std::string& id, const std::string& catalog_id, const std::string& class_id,
                                 const std::string& name = "", const std::string& description = "",
                                 bool required = false);
    static Ref<Pin> create_output(const std::string& id, const std::string& catalog_id, const std::string& class_id,
                                  const std::string& name = "", const std::string& description = "");

    const char* GetId() const override { return id_.c_str(); }
    const std::string& id() const { return id_; }
    const char* GetName() const override { return name_.c_str(); }
    const char* GetDescription() const override { return description_.c_str(); }
    const char* GetDatatypeCatalogId() const override { return catalog_id_.c_str(); }
    const char* GetDatatypeClassId() const override { return class_id_.c_str(); }
    bool IsRequired() const override { return required_; }
    bool IsConnected() const override { return static_cast<bool>(link_); }
    Mrv::IDatatype* GetDatatype() override { return link_ ? link_->GetDatatype() : own_.get(); }
    // True only for a value that arrived since the owning block's last
    // execution (the stamp differs from the one seen then).
    bool HasData() const override;
    // Records the value as seen: called by the host after each execution.
    void executed();

    Kind kind() const { return kind_; }
    // Links this input to an output of the same datatype class; otherwise
    // throws std::invalid_argument naming both pins.
    void connect(Pin& output);
    void disconnect() { link_.reset(); }
    Pin* linked_output() const { return link_.get(); }
    Ref<Pin> clone() const;

private:
    Pin(Kind kind, std::string id, std::string catalog_id, std::string class_id, std::string name,
        std::string description, bool required);

    Kind kind_;
    std::string id_, catalog_id_, class_id_, name_, description_;
    bool required_;
    Ref<Mrv::IDatatype> own_;
    Ref<Pin> link_;
    Mrv::TimeStamp seen_ = 0;
};

class Parameter : public Object<Mrv::IParameter> {
public:
    static Ref<Parameter> create(const std::string& id, const std::string& name, const std::string& description,
                                 const std::string& catalog_id, const std::string& class_id,
                                 const std::string& domain_catalog_id = "", const std::string& domain_class_id = "");

    const char* GetId() const override { return id_.c_str(); }
    const std::string& id() const { return id_; }
    const char* GetName() const override { return name_.c_str(); }
    const char* GetDescription() const override { return description_.c_str(); }
    const char* GetDatatypeCatalogId() const override { return catalog_id_.c_str(); }
    const char* GetDatatypeClassId() const override { return class_id_.c_str(); }
    Mrv::IDatatype* GetValue() override { return value_.get(); }
    bool GetAttribute(Mrv::int32 attribute) const override;
    void SetAttribute(Mrv::int32 attribute, bool value) override;
    Mrv::int32 GetIntAttribute() const override { return int_attribute_; }
    void SetIntAttribute(Mrv::int32 value) override { int_attribute_ = value; }
    bool ComparesBeforeAssignment() const override { return compares_; }
    Mrv::IDomain* GetDomain() override { return domain_.get(); }

    void set_compares_before_assignment(bool compares) { compares_ = compares; }
    // The domain's class id, or "" without one.
    const std::string& domain_class_id() const { return domain_class_id_; }
    Ref<Parameter> clone() const;

private:
    Parameter() = default;

    std::string id_, name_, description_, catalog_id_, class_id_, domain_catalog_id_, domain_class_id_;
    Ref<Mrv::IDatatype> value_;
    Ref<Mrv::IDomain> domain_;
    bool attributes_[7] = {false, true, true, true, true, false, false};
    Mrv::int32 int_attribute_ = 0;
    bool compares_ = true;
};

template <class Item, class Interface, class ItemInterface>
class Collection : public Object<Interface> {
public:
    Mrv::int32 GetCount() const override { return static_cast<Mrv::int32>(items_.size()); }
    ItemInterface* GetItem(Mrv::int32 index) override {
        if (index < 0 || index >= GetCount()) throw_range(GetCount(), index);
        return items_[static_cast<std::size_t>(index)].get();
    }
    ItemInterface* Find(const char* id) override { return find(id ? id : ""); }

    Item* find(const std::string& id) const {
        for (const auto& item : items_)
            if (id == item->id()) return item.get();
        return nullptr;
    }
    void add(Ref<Item> item) {
        items_.push_back(std::move(item));
        changed_ = next_change_stamp();
    }
    bool remove(const std::string& id) {
        for (auto it = items_.begin(); it != items_.end(); ++it)
            if (id == (*it)->id()) {
                items_.erase(it);
                changed_ = next_change_stamp();
                return true;
            }
        return false;
    }
    void clear() {
        items_.clear();
        changed_ = next_change_stamp();
    }
    const std::vector<Ref<Item>>& items() const { return items_; }
    // Differs from every earlier value after an item was added or removed.
    std::uint64_t changed() const { return changed_; }

private:
    std::vector<Ref<Item>> items_;
    std::uint64_t changed_ = next_change_stamp();
};

using PinCollection = Collection<Pin, Mrv::IPinCollection, Mrv::IPin>;
using ParameterCollection = Collection<Parameter, Mrv::IParameterCollection, Mrv::IParameter>;

class Signature : public Object<Mrv::ISignature> {
public:
    static Ref<Signature> create();

    void AddInput(const char* id, const char* name, const char* description, const char* catalog_id,
                  const char* class_id, bool required, bool option, Mrv::int32 value) override;
    void AddOutput(const char* id, const char* name, const char* description, const char* catalog_id,
                   const char* class_id, const char* init_catalog_id, const char* init_class_id,
                   Mrv::int32 value) override;
    void AddParameter(const char* id, const char* name, const char* description, const char* catalog_id,
                      const char* class_id, const char* domain_catalog_id, const char* domain_class_id,
                      Mrv::int32 value1, Mrv::int32 value2) override;
    bool RemoveInput(const char* id) override;
    bool RemoveOutput(const char* id) override;
    bool RemoveParameter(const char* id) override;
    Mrv::IPinCollection* GetInputs() override { return inputs_.get(); }
    Mrv::IPinCollection* GetOutputs() override { return outputs_.get(); }
    Mrv::IParameterCollection* GetParameters() override { return parameters_.get(); }
    Mrv::IParameter* GetTraceLevel() override { return trace_level_.get(); }
    void Clear() override;

    Pin* find_input(const std::string& id) const { return inputs_->find(id); }
    Pin* find_output(const std::string& id) const { return outputs_->find(id); }
    Parameter* find_parameter(const std::string& id) const { return parameters_->find(id); }
    PinCollection& inputs() { return *inputs_; }
    PinCollection& outputs() { return *outputs_; }
    ParameterCollection& parameters() { return *parameters_; }
    // After each execution of the block: the values its inputs hold now are
    // no longer new to it (see Pin::HasData).
    void executed();
    // An independent copy of every declaration and value (links are not
    // copied), as a saved patch keeps it.
    Ref<Signature> clone() const;

private:
    Signature();
    void check_new_id(const char* id) const;

    Ref<PinCollection> inputs_, outputs_;
    Ref<ParameterCollection> parameters_;
    Ref<Parameter> trace_level_;
};

class Layout : public Object<Mrv::ILayout> {
public:
    static Ref<Layout> create();
    Mrv::IDatatypeLayout* SetLayout(const char* parameter_id, const char* catalog_id, const char* class_id) override;
    Mrv::IDatatypeLayout* GetLayout(const char* parameter_id) override;
    void AddParameter(const char* parameter_id) override { first_.push_back(parameter_id ? parameter_id : ""); }
    void Clear() override {
        layouts_.clear();
        first_.clear();
    }
    const std::vector<std::string>& layout_first() const { return first_; }
    const std::map<std::string, Ref<Mrv::IDatatypeLayout>>& layouts() const { return layouts_; }

private:
    Layout() = default;
    std::map<std::string, Ref<Mrv::IDatatypeLayout>> layouts_;
    std::vector<std::string> first_;
};

// A block may ask from a thread of its own (a worker that finished).
class ExecutionRequest : public Object<Mrv::IExecutionRequest> {
public:
    void Request() override {
        ++count_;
        pending_ = true;
        if (Wakeup* wakeup = wakeup_.load()) wakeup->notify();
    }
    // Whom a request wakes (null: nobody); set while a patch runs.
    void set_wakeup(Wakeup* wakeup) { wakeup_.store(wakeup); }
    bool pending() const { return pending_; }
    // Requests since creation, taken or not.
    long count() const { return count_; }
    // Clears the request and says whether there was one.
    bool take_pending() { return pending_.exchange(false); }

private:
    std::atomic<bool> pending_{false};
    std::atomic<long> count_{0};
    std::atomic<Wakeup*> wakeup_{nullptr};
};

class Status : public Object<Mrv::IStatus> {
public:
    static Ref<Status> create();
    Mrv::int32 GetStatus() const override { return status_; }
    void SetExecutionSetting(Mrv::int32 value) override { settings_[0] = value; }
    void SetSecondExecutionSetting(Mrv::int32 value) override { settings_[1] = value; }
    void AddDrivingInput(const char* pin_id, Mrv::int32 flag) override;
    void RemoveDrivingInput(const char* pin_id) override;
    Mrv::IExecutionRequest* GetExecutionRequest() override { return request_.get(); }

    void set_status(Mrv::int32 status) { status_ = status; }
    Mrv::int32 execution_setting(int index) const { return settings_[index]; }
    const std::vector<std::pair<std::string, Mrv::int32>>& driving_inputs() const { return driving_; }
    // Differs from every earlier value after a driving input was added or
    // removed.
    std::uint64_t driving_changed() const { return driving_changed_; }
    ExecutionRequest& execution_request() { return *request_; }
    bool take_pending() { return request_->take_pending(); }

private:
    Status();
    Mrv::int32 status_ = Mrv::StatusDesign;
    Mrv::int32 settings_[2] = {0, 0};
    std::vector<std::pair<std::string, Mrv::int32>> driving_;
    std::uint64_t driving_changed_ = next_change_stamp();
    Ref<ExecutionRequest> request_;
};

}  // namespace mrvhost
