#include "sim/EchoDevice.h"

namespace veltra::sim {

Reply EchoDevice::OnBytes(const ByteString& bytes) {
    if (bytes.empty()) return {};
    return {Piece{bytes, {}}};
}

}  // namespace veltra::sim
