// zarvocrc: the guide importer's CRC as a CPython extension module. One
// function, crc32(data, type), over a str (as UTF-8) or read-only bytes;
// the result is the 32-bit register read as a signed int.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "guide_crc.h"

constexpr int kInterpreterApiVersion = 1013;  // PYTHON_API_VERSION since 3.x

static PyObject *zarvocrc_crc32(PyObject * /*module*/, PyObject *args) {
  const char *data = nullptr;
  Py_ssize_t length = 0;
  int type = 0;
  if (!PyArg_ParseTuple(args, "s#i", &data, &length, &type)) return nullptr;
  // The bytes are read where the parser points; nothing is copied.
  uint32_t crc = guide_crc32(type, reinterpret_cast<const unsigned char *>(data), static_cast<size_t>(length));
  return Py_BuildValue("i", static_cast<int>(crc));
}

PyDoc_STRVAR(zarvocrc_crc32_doc, "Calculate Zarvo's CRC32 for a data string.");
PyDoc_STRVAR(zarvocrc_doc, "Module for guidepull");

static PyMethodDef zarvocrc_methods[] = {
    {"crc32", zarvocrc_crc32, METH_VARARGS, zarvocrc_crc32_doc},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

static PyModuleDef zarvocrc_module = {
    PyModuleDef_HEAD_INIT,
    "zarvocrc",        // m_name
    zarvocrc_doc,      // m_doc
    -1,                // m_size: no per-module state
    zarvocrc_methods,  // m_methods
    nullptr,           // m_slots
    nullptr,           // m_traverse
    nullptr,           // m_clear
    nullptr,           // m_free
};

PyMODINIT_FUNC PyInit_zarvocrc(void) { return PyModule_Create2(&zarvocrc_module, kInterpreterApiVersion); }
