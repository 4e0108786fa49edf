import os
import sys

sys.path.insert(0, os.path.dirname(__file__))

from hypothesis import settings  # noqa: E402

settings.register_profile("ci", max_examples=150, deadline=None)
settings.register_profile("dev", max_examples=60, deadline=None)
settings.register_profile("long", max_examples=5000, deadline=None)
settings.load_profile(os.environ.get("QUARNEL_HYPOTHESIS_PROFILE", "ci"))
