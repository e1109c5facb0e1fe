// SPDX-License-Identifier: MIT
//
// median5x5._core, the compiled part of the Python package median5x5:
// median_filter(a, size, mode="nearest", out=None, threads=None) and
// median5x5(a, mode="nearest", out=None) run the engine's C entry points
// (median.h) on a NumPy image of uint8, uint16 or float32 elements, shaped
// (H, W) or (H, W, C) with C from 1 to 4.  The package re-exports them
// (python/median5x5/__init__.py).
//
// An array whose rows hold their pixels packed (element after element,
// pixel after pixel, rows a positive whole number of elements apart) is
// handed to the engine where it lies, at its own row stride; any other
// layout is copied first, and an `out` of such a layout receives the result
// through a temporary.  `a` and `out` may be the same packed array (the
// engine filters in place); when they share memory in any other way, `a` is
// copied first.  Every argument is checked before anything is written, so a
// call that raises leaves `out` as it was.  The GIL is released while the
// engine works: other Python threads run meanwhile, and calls on different
// arrays may run at the same time.  `threads` sets the OpenMP threads of one
// call, on the calling thread only (OpenMP keeps that setting per thread),
// and puts the thread's own setting back afterwards.

#include <omp.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "median/median.h"

namespace py = pybind11;

namespace {

// scipy.ndimage's names for the borders the engine has.
struct Mode {
  const char* name;
  median_border border;
};
constexpr Mode MODES[] = {
    {"constant", MEDIAN_BORDER_ZERO},
    {"nearest", MEDIAN_BORDER_REPLICATE},
    {"mirror", MEDIAN_BORDER_REFLECT_101},
    {"reflect", MEDIAN_BORDER_REFLECT},
};

median_border border_of(const std::string& mode) {
  for (const Mode& m : MODES)
    if (mode == m.name) return m.border;
  throw py::value_error("mode '" + mode +
                        "' is not one of 'constant' (zeros), 'nearest', 'mirror' or 'reflect'");
}

enum class Element { u8, u16, f32 };

// The element type of `a`, when the engine filters it: an equivalent dtype,
// so native byte order only.
std::optional<Element> element_of(const py::array& a) {
  if (py::isinstance<py::array_t<uint8_t>>(a)) return Element::u8;
  if (py::isinstance<py::array_t<uint16_t>>(a)) return Element::u16;
  if (py::isinstance<py::array_t<float>>(a)) return Element::f32;
  return std::nullopt;
}

std::string shape_of(const py::array& a) { return py::str(a.attr("shape")); }

// Raises the engine's message for `status`; running out of memory is a
// MemoryError, everything else a ValueError.
[[noreturn]] void raise_status(int status, const std::string& context = "") {
  std::string message = median_error_string(status);
  if (!context.empty()) message += " (" + context + ")";
  if (status == MEDIAN_ERROR_OUT_OF_MEMORY) {
    PyErr_SetString(PyExc_MemoryError, message.c_str());
    throw py::error_already_set();
  }
  throw py::value_error(message);
}

struct Geometry {
  int32_t width, height, channels;
  py::ssize_t row_bytes;
};

// The image `a` holds, checked in the engine's order (size, then channels)
// and before any copy, so that a huge broadcast view is refused rather than
// materialised.
Geometry geometry_of(const py::array& a) {
  if (a.ndim() != 2 && a.ndim() != 3)
    throw py::value_error("expected a 2-D (H, W) or 3-D (H, W, C) array, got shape " +
                          shape_of(a));
  const py::ssize_t h = a.shape(0), w = a.shape(1), c = a.ndim() == 3 ? a.shape(2) : 1;
  constexpr py::ssize_t MAX = std::numeric_limits<int32_t>::max();
  if (h < 1 || w < 1 || h > MAX || w > MAX) raise_status(MEDIAN_ERROR_SIZE, "shape " + shape_of(a));
  if (c < 1 || c > 4) raise_status(MEDIAN_ERROR_CHANNELS, "shape " + shape_of(a));
  return {int32_t(w), int32_t(h), int32_t(c), w * c * a.itemsize()};
}

// The row stride in bytes to hand the engine, or 0 when the rows of `a` do
// not hold their pixels packed and `a` must go through a copy.  The stride
// of a dimension of length 1 is never used, so it does not count (NumPy
// gives a new axis a stride of 0, for instance).
py::ssize_t packed_row_stride(const py::array& a, const Geometry& g) {
  const py::ssize_t item = a.itemsize();
  if (g.channels > 1 && a.strides(2) != item) return 0;
  if (g.width > 1 && a.strides(1) != g.channels * item) return 0;
  if (g.height == 1) return g.row_bytes;
  const py::ssize_t stride = a.strides(0);
  return stride >= g.row_bytes && stride % item == 0 ? stride : 0;
}

// The bytes a packed image spans, [first, end).
struct Span {
  uintptr_t first, end;
};
Span span_of(const void* data, py::ssize_t stride, const Geometry& g) {
  const auto first = reinterpret_cast<uintptr_t>(data);
  return {first, first + uintptr_t(g.height - 1) * uintptr_t(stride) + uintptr_t(g.row_bytes)};
}

// A new C-ordered array of the shape and dtype of `like`.
py::array new_like(const py::array& like) {
  return py::array(like.dtype(), std::vector<py::ssize_t>(like.shape(), like.shape() + like.ndim()));
}

void copy_into(const py::array& to, const py::array& from) {
  py::module_::import("numpy").attr("copyto")(to, from);
}

// A window, rows by columns.
struct Window {
  int32_t rows, columns;
};

int run(Element element, const void* src, py::ssize_t src_stride, void* dst, py::ssize_t dst_stride,
        const Geometry& g, Window window, median_border border) {
  switch (element) {
    case Element::u8:
      return median_filter_u8(static_cast<const uint8_t*>(src), src_stride,
                              static_cast<uint8_t*>(dst), dst_stride, g.width, g.height,
                              g.channels, window.columns, window.rows, border);
    case Element::u16:
      return median_filter_u16(static_cast<const uint16_t*>(src), src_stride,
                               static_cast<uint16_t*>(dst), dst_stride, g.width, g.height,
                               g.channels, window.columns, window.rows, border);
    case Element::f32:
      return median_filter_f32(static_cast<const float*>(src), src_stride,
                               static_cast<float*>(dst), dst_stride, g.width, g.height, g.channels,
                               window.columns, window.rows, border);
  }
  return MEDIAN_ERROR_KERNEL;  // not reached: every element type is above
}

const char* const SIZE_EXPECTED = "size must be an odd int or a (rows, columns) pair of odd ints, got ";

bool is_integer(const py::handle& h) {
  return PyIndex_Check(h.ptr()) && !py::isinstance<py::bool_>(h);
}

// The value of a Python or NumPy integer (is_integer), or nothing when it
// does not fit a long long.
std::optional<long long> value_of(const py::handle& integer) {
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(integer.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow) return std::nullopt;
  return value;
}

// One window side from a Python or NumPy integer; anything out of range, or
// even, is refused as the library refuses it.
int32_t window_side(const py::handle& side) {
  if (!is_integer(side)) throw py::type_error(SIZE_EXPECTED + std::string(py::repr(side)));
  const std::optional<long long> value = value_of(side);
  if (!value || *value < 1 || *value > MEDIAN_MAX_WINDOW || *value % 2 == 0)
    raise_status(MEDIAN_ERROR_WINDOW, "size " + std::string(py::repr(side)));
  return int32_t(*value);
}

// `size`: an integer for a square window, or a (rows, columns) sequence.
Window window_of(const py::object& size) {
  if (is_integer(size)) {
    const int32_t side = window_side(size);
    return {side, side};
  }
  if (py::isinstance<py::sequence>(size) && !py::isinstance<py::str>(size) && py::len(size) == 2) {
    const py::sequence pair = py::reinterpret_borrow<py::sequence>(size);
    return {window_side(pair[0]), window_side(pair[1])};
  }
  throw py::type_error(SIZE_EXPECTED + std::string(py::repr(size)));
}

// The most threads a call may ask for: more than any machine's cores, and
// few enough that a mistaken count does not try to start millions.
constexpr long long MAX_THREADS = 4096;

// `threads`: None for OpenMP's own count (OMP_NUM_THREADS), or a count.
// Returns 0 for None.
int threads_of(const py::object& threads) {
  if (threads.is_none()) return 0;
  if (!is_integer(threads))
    throw py::type_error("threads must be None or an int, got " + std::string(py::repr(threads)));
  const std::optional<long long> value = value_of(threads);
  if (!value || *value < 1 || *value > MAX_THREADS)
    throw py::value_error("threads must be from 1 to " + std::to_string(MAX_THREADS) + ", got " +
                          std::string(py::repr(threads)));
  return int(*value);
}

py::object filter(const py::object& a_in, Window window, const std::string& mode,
                  const py::object& out_in, int threads = 0) {
  const py::array a = py::array::ensure(a_in);
  if (!a)
    throw py::type_error("expected an array of uint8, uint16 or float32, got " +
                         std::string(py::str(py::type::of(a_in).attr("__name__"))));
  const std::optional<Element> element = element_of(a);
  if (!element)
    throw py::type_error("dtype " + std::string(py::str(a.dtype())) +
                         " is not supported: uint8, uint16 or float32 (native byte order)");
  const Geometry g = geometry_of(a);
  const median_border border = border_of(mode);

  std::optional<py::array> out;
  if (!out_in.is_none()) {
    if (!py::isinstance<py::array>(out_in))
      throw py::type_error("out must be a numpy.ndarray, got " +
                           std::string(py::str(py::type::of(out_in).attr("__name__"))));
    out = py::reinterpret_borrow<py::array>(out_in);
    if (!a.attr("shape").equal(out->attr("shape")))
      throw py::value_error("out has shape " + shape_of(*out) + ", a has shape " + shape_of(a));
    if (element_of(*out) != element)
      throw py::value_error("out has dtype " + std::string(py::str(out->dtype())) +
                            ", a has dtype " + std::string(py::str(a.dtype())));
    if (!out->writeable()) throw py::value_error("out is read-only");
  }

  // Where the engine writes: `out` itself when its rows are packed,
  // otherwise a temporary copied into `out` afterwards.
  py::array dst = out ? *out : new_like(a);
  py::ssize_t dst_stride = packed_row_stride(dst, g);
  const bool through_temporary = dst_stride == 0;
  if (through_temporary) {
    dst = new_like(a);
    dst_stride = g.row_bytes;
  }
  // What the engine reads: `a` where it lies, unless its layout needs a
  // copy or it shares memory with the destination without being the
  // destination itself (the engine refuses such an overlap).
  py::array src = a;
  py::ssize_t src_stride = packed_row_stride(a, g);
  if (src_stride) {
    const Span s = span_of(a.data(), src_stride, g), d = span_of(dst.data(), dst_stride, g);
    const bool in_place = s.first == d.first && src_stride == dst_stride;
    if (!in_place && s.first < d.end && d.first < s.end) src_stride = 0;
  }
  if (!src_stride) {
    src = new_like(a);
    copy_into(src, a);
    src_stride = g.row_bytes;
  }

  const void* const src_data = src.data();
  void* const dst_data = dst.mutable_data();
  int status;
  {
    py::gil_scoped_release unlocked;
    // OpenMP's thread count is a setting of the calling thread: set for
    // this call, then put back.
    const int own_threads = omp_get_max_threads();
    if (threads) omp_set_num_threads(threads);
    status = run(*element, src_data, src_stride, dst_data, dst_stride, g, window, border);
    if (threads) omp_set_num_threads(own_threads);
  }
  if (status != MEDIAN_OK) raise_status(status);
  if (through_temporary) copy_into(*out, dst);
  return out ? out_in : py::object(dst);
}

py::object median_filter(const py::object& a, const py::object& size, const std::string& mode,
                         const py::object& out, const py::object& threads) {
  const Window window = window_of(size);
  return filter(a, window, mode, out, threads_of(threads));
}

py::object median5x5(const py::object& a, const std::string& mode, const py::object& out) {
  return filter(a, {5, 5}, mode, out);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  // The docstring carries the signature in NumPy's style, defaults and all.
  py::options options;
  options.disable_function_signatures();
  m.doc() = "Median filter of any odd window for NumPy images of uint8, uint16 or float32 elements.";
  m.attr("__version__") = MEDIAN_VERSION;
  m.attr("MAX_WINDOW") = MEDIAN_MAX_WINDOW;
  m.def("median_filter", &median_filter, py::arg("a"), py::arg("size"), py::arg("mode") = "nearest",
        py::arg("out") = py::none(), py::arg("threads") = py::none(),
        R"(median_filter(a, size, mode="nearest", out=None, threads=None)

Every element becomes the median of the elements of the same channel in
the window around it: what scipy.ndimage.median_filter gives with
size=(rows, columns) for a 2-D array and size=(rows, columns, 1) for a 3-D
one (cval=0).

a:    (H, W) or (H, W, C) with C from 1 to 4; dtype uint8, uint16 or
      float32; any strides.  Float medians order -0.0 below +0.0 and every
      NaN above +inf.
size: an odd int for a square window, or a (rows, columns) pair of odd
      ints, each from 1 to MAX_WINDOW (255); the window may be larger than
      the image.
mode: what the window reads beyond the edges, by scipy.ndimage's names:
      "constant" (zeros), "nearest" (a a | a b c d, the edge repeated),
      "mirror" (c b | a b c d) or "reflect" (b a | a b c d); the mirrors
      reflect again and again where the window is larger than the image.
out:  None for a new array, or a writeable array of the same shape and
      dtype to fill, which may be `a` itself.  Returned.
threads: None for OpenMP's count of threads (OMP_NUM_THREADS), or how
      many threads this call uses, from 1 to 4096.

Raises TypeError for a dtype other than the three or a size or threads
that is not ints, ValueError for any other argument the filter cannot
take; nothing is written then.  The GIL is released while filtering; the
filter's own threads are OpenMP's.)");
  m.def("median5x5", &median5x5, py::arg("a"), py::arg("mode") = "nearest",
        py::arg("out") = py::none(),
        R"(median5x5(a, mode="nearest", out=None)

median_filter(a, 5, mode, out): every element becomes the median of the 25
elements of the same channel in the 5x5 window around it, what
scipy.ndimage.median_filter gives with size=(5, 5) for a 2-D array and
size=(5, 5, 1) for a 3-D one (cval=0).

a:    (H, W) or (H, W, C) with C from 1 to 4; dtype uint8, uint16 or
      float32; any strides.  Float medians order -0.0 below +0.0 and every
      NaN above +inf.
mode: what the window reads beyond the edges, by scipy.ndimage's names:
      "constant" (zeros), "nearest" (a a | a b c d, the edge repeated),
      "mirror" (c b | a b c d) or "reflect" (b a | a b c d).
out:  None for a new array, or a writeable array of the same shape and
      dtype to fill, which may be `a` itself.  Returned.

Raises TypeError for a dtype other than the three, ValueError for any other
argument the filter cannot take; nothing is written then.  The GIL is
released while filtering; the filter's own threads are OpenMP's
(OMP_NUM_THREADS).)");
}
