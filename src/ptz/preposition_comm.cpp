#include "ptz/preposition_comm.h"

namespace norvane {

bool IPrepositionComm::RemovePreposition(unsigned, const std::string&) {
    return true;
}

}  // namespace norvane
