// zarvocrc: the guide importer's CRC as a CPython extension module. One
// function, crc32(data, type), over a str (as UTF-8) or read-only bytes;
// the result is the 32-bit register read as a signed int. Built on the
// stable ABI of 3.9, so one binary serves every receiver's Python from 3.9 on.
#define PY_SSIZE_T_CLEAN
#define Py_LIMITED_API 0x03090000
#include <Python.h>

#include "guide_crc.h"

static PyObject *zarvocrc_crc32(PyObject * /*module*/, PyObject *args) {
  const char *data = nullptr;
  Py_ssize_t length = 0;
  int type = 0;
  if (!PyArg_ParseTuple(args, "s#i", &data, &length, &type)) return nullptr;
  // "s#" is the interpreter's own parser, in the stable ABI: str as UTF-8,
  // buffers without a release (bytes). The bytes are read in place.
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

PyMODINIT_FUNC PyInit_zarvocrc(void) { return PyModule_Create(&zarvocrc_module); }
