"""Can this domain name be registered? See korvel._native.Registry."""

from korvel._native import CheckResult, Registry, TldInfo

__all__ = ["Registry", "CheckResult", "TldInfo"]
