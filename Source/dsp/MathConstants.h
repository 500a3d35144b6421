#pragma once

namespace tolmar {

constexpr double twoPi = 6.283185307179586476925286766559;

} // namespace tolmar
