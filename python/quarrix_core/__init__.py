"""Scanning core of the quarrix HDL IP registry.

The operations live in native extension modules: ``quarrix_core.ip_scanner``,
``quarrix_core.dependency_resolver`` and ``quarrix_core.description_validator``.
"""

__version__ = "0.1.0"
