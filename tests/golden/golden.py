"""The golden documents of tests/golden for the Python tests."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def golden(name, **values):
    """The document NAME.txt, byte for byte, with each @KEY@ replaced by the
    value given for KEY (text is encoded as Latin-1)."""
    with open(os.path.join(HERE, name + ".txt"), "rb") as f:
        text = f.read()
    for key, value in values.items():
        if isinstance(value, str):
            value = value.encode("latin-1")
        text = text.replace(b"@" + key.encode() + b"@", value)
    return text
