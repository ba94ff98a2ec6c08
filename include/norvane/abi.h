// One binary layout of the boundary interfaces under every compiler: the operation positions are
// those Microsoft's compiler gives, where a virtual destructor takes one position (its scalar
// deleting destructor). The Itanium ABI (g++, clang on Linux, MinGW) gives a virtual destructor
// two positions, so there the interfaces declare that one position themselves.
#pragma once

#if defined(_MSC_VER)
#define NORVANE_MICROSOFT_ABI 1
#endif

// printf format check where the compiler has one.
#if defined(__GNUC__) || defined(__clang__)
#define NORVANE_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define NORVANE_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// Member operations of 32-bit Windows pass `this` in ECX and pop their arguments (thiscall),
// under both ABIs; said explicitly where the compiler is not Microsoft's.
#if defined(_WIN32) && defined(__i386__) && !defined(NORVANE_MICROSOFT_ABI)
#define NORVANE_THISCALL __attribute__((thiscall))
#else
#define NORVANE_THISCALL
#endif

// Position 0 of a root boundary interface. Under the Itanium ABI it is an operation that behaves
// as Microsoft's scalar deleting destructor: it destroys the object, frees it when bit 0 of flags
// is set, and returns the object's address. Implementations get it from TBoundaryObject; objects
// are deleted through it (DeleteObject), never by `delete` on an interface pointer.
#if defined(NORVANE_MICROSOFT_ABI)
#define NORVANE_DESTRUCTOR_POSITION(Interface) \
public:                                        \
    virtual ~Interface() {}
#else
#define NORVANE_DESTRUCTOR_POSITION(Interface)                                   \
public:                                                                          \
    virtual void* NORVANE_THISCALL ScalarDeletingDestructor(unsigned flags) = 0; \
                                                                                 \
protected:                                                                       \
    ~Interface() = default;                                                      \
                                                                                 \
public:
#endif

namespace norvane {

// Base of every class that implements boundary interfaces (on either side): one virtual
// destructor for the whole object, and under the Itanium ABI the destructor position of every
// interface listed, which runs that destructor.
template <class... Interfaces>
class TBoundaryObject : public Interfaces... {
public:
    virtual ~TBoundaryObject() = default;

#if !defined(NORVANE_MICROSOFT_ABI)
    void* NORVANE_THISCALL ScalarDeletingDestructor(unsigned flags) override {
        void* self = this;
        if (flags & 1u)
            delete this;
        else
            this->~TBoundaryObject();
        return self;
    }
#endif
};

// Destroys and frees a boundary object through its destructor position, as `delete` on an
// interface pointer does under Microsoft's compiler. Null is ignored.
template <class Interface>
void DeleteObject(Interface* object) {
#if defined(NORVANE_MICROSOFT_ABI)
    delete object;
#else
    if (object)
        object->ScalarDeletingDestructor(1u);
#endif
}

}  // namespace norvane
