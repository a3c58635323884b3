// The objects of the component as the C interface sees them: reference
// counted, named by member, called by dispatch id. Each class describes its
// members in one table (name, dispatch id, kind, argument types, handler);
// that table alone drives name lookup and calls, in place of a type
// library. Objects are used by one thread at a time (threading model
// "Apartment") and hold no lock.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/AccountName.h"
#include "webcom/dispatch/ComValue.h"

namespace quorvex::webcom {

// Kinds of a member, as the flags of a call name them.
enum MemberKind : int {
    kMethod = 1,
    kPropertyGet = 2,
    kPropertyPut = 4,
};

class ComObject {
public:
    ComObject();
    virtual ~ComObject();
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    std::uint32_t AddRef() { return ++references_; }
    // The last release deletes the object.
    std::uint32_t Release();

    virtual Status IdOfName(std::string_view name, std::int32_t& dispid) const = 0;
    // Clears the previous result first: what it pointed to is gone.
    virtual Status Invoke(std::int32_t dispid, std::int32_t flags, std::span<const QvxValue> args, QvxValue& result) = 0;

    QvxObject* Handle() { return reinterpret_cast<QvxObject*>(this); }
    static ComObject* FromHandle(QvxObject* handle) { return reinterpret_cast<ComObject*>(handle); }

private:
    std::uint32_t references_ = 1;
};

// One row of a class's member table. A property with a getter and a
// putter has two rows with the same name and dispatch id.
template <class T>
struct Member {
    std::string_view name;
    std::int32_t dispid;
    MemberKind kind;
    std::string_view params;  // kParamInteger, kParamText or kParamAny per argument, in order
    Status (T::*handler)(const Arguments& args, Result& result);
};

// The row a call reaches: the rows of the dispatch id whose kind the flags
// name; a put before a method before a get. Null when there is none.
template <class T>
const Member<T>* FindMember(std::span<const Member<T>> table, std::int32_t dispid, std::int32_t flags) {
    static constexpr MemberKind kOrder[] = {kPropertyPut, kMethod, kPropertyGet};
    for (const MemberKind kind : kOrder) {
        if ((flags & kind) == 0) continue;
        for (const Member<T>& row : table)
            if (row.dispid == dispid && row.kind == kind) return &row;
    }
    return nullptr;
}

// A class whose calls are served by its member table:
// `static std::span<const Member<T>> Members()`.
template <class T>
class DispatchObject : public ComObject {
public:
    Status IdOfName(std::string_view name, std::int32_t& dispid) const override {
        for (const Member<T>& row : T::Members())
            if (SameName(row.name, name)) {
                dispid = row.dispid;
                return kOk;
            }
        return kUnknownName;
    }

    Status Invoke(std::int32_t dispid, std::int32_t flags, std::span<const QvxValue> args, QvxValue& result) override {
        result_.Clear();
        result = result_.AsValue();
        const Member<T>* row = FindMember(T::Members(), dispid, flags);
        if (row == nullptr) return kMemberNotFound;
        if (args.size() != row->params.size()) return kBadParamCount;
        Arguments converted;
        if (const Status status = converted.Convert(row->params, args); status != kOk) return status;
        const Status status = (static_cast<T*>(this)->*row->handler)(converted, result_);
        result = result_.AsValue();
        return status;
    }

protected:
    // Getters of properties that are plain fields: rows name them as
    // &T::FieldText<&T::field_> and &T::FieldInteger<&T::field_>.
    template <std::string T::*field>
    Status FieldText(const Arguments&, Result& result) {
        result.SetText(static_cast<T*>(this)->*field);
        return kOk;
    }
    template <std::int32_t T::*field>
    Status FieldInteger(const Arguments&, Result& result) {
        result.SetInteger(static_cast<T*>(this)->*field);
        return kOk;
    }

private:
    Result result_;  // storage of the last result, valid until the next call
};

}  // namespace quorvex::webcom
